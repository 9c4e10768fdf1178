#include "corvane/session_info_data.h"

namespace corvane {

SessionInfoData::~SessionInfoData() = default;

}  // namespace corvane
