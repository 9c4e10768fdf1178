#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace corvane {

// Where an absolute node path starts: which root, and the offset of the first name.
struct PathRoot {
    enum Kind {
        NONE,          // no valid root prefix
        SLOT,          // a root slot, or the contacts root (slot 7)
        SECRET,        // "//sec/<handle>/": the open secret with that id
        SHARED_DRIVE,  // "//shdd/<handle>/": the shared drive with that id
    };

    Kind kind = NONE;
    // The root index for SLOT (0 to 4, or 7), the decoded handle for SECRET and SHARED_DRIVE.
    uint64_t value = 0;
    // Where the names begin.
    size_t offset = 0;
};

// Reads the root prefix of an absolute path: "/", "//bak/", "//bin/", "//reg/", "//shd/",
// "//cnt/", "//sec/<h>/" or "//shdd/<h>/".
PathRoot parsePathRoot(const std::string& path);

// The path text of a root of the type; the handle text is used by secrets (6) and shared
// drives (8). Types without a prefix of their own give "/".
std::string rootPathText(int32_t type, const std::string& handleText);

}  // namespace corvane
