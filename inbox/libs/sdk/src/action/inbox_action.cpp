#include "action/inbox_action.h"

namespace corvane {

bool AddContactAction::validate(const ActionRecord& data) {
    return isSet(data->getEmail());
}

bool ManageContactsAction::validate(const ActionRecord& data) {
    if (data->getAccountHandle() != 0) {
        return isNonEmpty(data->getName());
    }
    return data->getNodeHandle() != 0;
}

bool ManageOutboxesAction::validate(const ActionRecord& data) {
    return data->getNodeHandle() != 0 && (!isNonEmpty(data->getLink()) || isNonEmpty(data->getName()));
}

bool ManageSentRecordsAction::validate(const ActionRecord& data) {
    return data->getNodeHandle() != 0 && isNonEmpty(data->getLink());
}

bool CreateInboxAction::validate(const ActionRecord& data) {
    return isSet(data->getName());
}

bool SetInboxInfoAction::validate(const ActionRecord& data) {
    return data->getNodeHandle() != 0 && isSet(data->getName());
}

bool GetInboxInfoAction::validate(const ActionRecord& data) {
    return isSet(data->getLink());
}

bool UploadToRecordAction::validate(const ActionRecord& data) {
    return isSet(data->getName());
}

bool RemoveFromRecordAction::validate(const ActionRecord& data) {
    return data->getNodeHandle() != 0;
}

bool GetRecordInfoAction::validate(const ActionRecord& data) {
    return isSet(data->getLink());
}

bool SetRecordStatusAction::validate(const ActionRecord& data) {
    return data->getNodeHandle() != 0 && (data->getOption() == 0 || data->getOption() == 1);
}

bool LoginLinkAction::validate(const ActionRecord& data) {
    return isSet(data->getLink());
}

}  // namespace corvane
