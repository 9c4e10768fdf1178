#pragma once

#include <QString>

namespace apppaths {

// The writable application-local data folder (native separators): account caches, crash
// reports, the log ring's file, thumbnails and previews.
QString dataFolder();

}  // namespace apppaths
