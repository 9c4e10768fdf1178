#include "corvane/account_info_data.h"

namespace corvane {

AccountInfoData::~AccountInfoData() = default;

}  // namespace corvane
