#include "app_paths.h"

#include <QDir>
#include <QStandardPaths>

namespace apppaths {

QString dataFolder() {
    return QDir::toNativeSeparators(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation));
}

}  // namespace apppaths
