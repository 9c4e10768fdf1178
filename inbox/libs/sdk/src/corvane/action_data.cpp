#include "corvane/action_data.h"

#include <atomic>

#include "corvane/action_types.h"
#include "util/string_copy.h"

namespace corvane {

namespace {

template <typename List>
std::shared_ptr<List> listOrEmpty(const std::shared_ptr<List>& list) {
    return list ? list : std::make_shared<List>();
}

}  // namespace

ActionData::ActionData(int32_t type) : type_(type) {
}

ActionData::~ActionData() {
    freeString(email_);
    freeString(password_);
    freeString(text_);
    freeString(session_);
    freeString(name_);
    freeString(extraText_);
    freeString(link_);
}

const char* ActionData::getTypeName() const {
    return getActionTypeName(type_);
}

std::shared_ptr<TransferData> ActionData::getTransfer() const {
    return std::atomic_load(&transfer_);
}

std::shared_ptr<NodeList> ActionData::getNodes() const {
    return listOrEmpty(nodes_);
}
std::shared_ptr<NumberList> ActionData::getReferralsInfo() const {
    return listOrEmpty(referralsInfo_);
}
std::shared_ptr<TextList> ActionData::getReferrals() const {
    return listOrEmpty(referrals_);
}
std::shared_ptr<ActionDataList> ActionData::getTransfers() const {
    return listOrEmpty(transfers_);
}
std::shared_ptr<SubscriptionInfoList> ActionData::getSubscriptionOptions() const {
    return listOrEmpty(subscriptionOptions_);
}
std::shared_ptr<SessionInfoList> ActionData::getActiveSessions() const {
    return listOrEmpty(activeSessions_);
}
std::shared_ptr<SessionInfoList> ActionData::getInactiveSessions() const {
    return listOrEmpty(inactiveSessions_);
}
std::shared_ptr<CouponInfoList> ActionData::getCoupons() const {
    return listOrEmpty(coupons_);
}
std::shared_ptr<PermissionInfoList> ActionData::getPermissions() const {
    return listOrEmpty(permissions_);
}
std::shared_ptr<PermissionInfoList> ActionData::getUsers() const {
    return listOrEmpty(users_);
}

}  // namespace corvane
