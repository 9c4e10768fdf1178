#include "cloud/node_path.h"

#include "corvane/handle.h"
#include "corvane/node_type.h"

namespace corvane {

namespace {

// The handle text runs from the offset to the next "/" or the end; names follow that slash.
PathRoot handleRoot(const std::string& path, size_t prefixLength, PathRoot::Kind kind) {
    PathRoot root;
    const size_t slash = path.find('/', prefixLength);
    const size_t length = (slash == std::string::npos ? path.size() : slash) - prefixLength;
    if (length == 0) {
        return root;
    }
    root.kind = kind;
    root.value = getHandleFromText(path.substr(prefixLength, length));
    root.offset = prefixLength + length + (slash == std::string::npos ? 0 : 1);
    return root;
}

}  // namespace

PathRoot parsePathRoot(const std::string& path) {
    PathRoot root;
    if (path.empty() || path[0] != '/') {
        return root;
    }
    if (path.size() < 2 || path[1] != '/') {
        root.kind = PathRoot::SLOT;
        root.value = 0;
        root.offset = 1;
        return root;
    }
    static const struct {
        const char* prefix;
        uint64_t slot;
    } kSlots[] = {{"//bin/", 2}, {"//bak/", 1}, {"//reg/", 3}, {"//shd/", 4}, {"//cnt/", 7}};
    for (const auto& entry : kSlots) {
        if (path.compare(0, 6, entry.prefix) == 0) {
            root.kind = PathRoot::SLOT;
            root.value = entry.slot;
            root.offset = 6;
            return root;
        }
    }
    if (path.compare(0, 6, "//sec/") == 0) {
        return handleRoot(path, 6, PathRoot::SECRET);
    }
    if (path.compare(0, 7, "//shdd/") == 0) {
        return handleRoot(path, 7, PathRoot::SHARED_DRIVE);
    }
    return root;
}

std::string rootPathText(int32_t type, const std::string& handleText) {
    switch (type) {
        case BACKUPS_ROOT:
            return "//bak/";
        case RECYCLE_BIN_ROOT:
            return "//bin/";
        case REGISTER_ROOT:
            return "//reg/";
        case SHARED_FOLDERS_ROOT:
            return "//shd/";
        case CONTACTS_ROOT:
            return "//cnt/";
        case SECRET_ROOT:
            return "//sec/" + handleText + "/";
        case SHARED_DRIVE_ROOT:
            return "//shdd/" + handleText + "/";
        default:
            return "/";
    }
}

}  // namespace corvane
