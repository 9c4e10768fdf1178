#include "corvane/user_info_data.h"

namespace corvane {

UserInfoData::~UserInfoData() = default;

}  // namespace corvane
