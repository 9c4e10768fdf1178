#include "corvane/permission_info_data.h"

namespace corvane {

PermissionInfoData::~PermissionInfoData() = default;

}  // namespace corvane
