#include "action/backup_action.h"

#include "api/api_manager.h"

namespace corvane {

namespace {

bool isBackupStatus(int32_t flags) {
    return flags >= 0 && flags <= 2;
}

}  // namespace

bool RegisterDeviceAction::validate(const ActionRecord& data) {
    return isSet(data->getName());
}

bool SelectDeviceAction::validate(const ActionRecord& data) {
    return data->getNodeHandle() != 0;
}

bool GetDeviceAction::validate(const ActionRecord& data) {
    return data->getNodeHandle() != 0 || isSet(data->getName());
}

bool RenameDeviceAction::validate(const ActionRecord& data) {
    return data->getNodeHandle() != 0 && isSet(data->getName());
}

bool DeleteDeviceAction::validate(const ActionRecord& data) {
    return data->getNodeHandle() != 0;
}

bool BackupAction::validate(const ActionRecord& data) {
    return data->getNodeHandle() != 0;
}

bool GetBackupAction::validate(const ActionRecord& data) {
    return data->getNodeHandle() != 0 || isSet(data->getName());
}

bool CreateBackupAction::validate(const ActionRecord& data) {
    return isSet(data->getName()) && isSet(data->getText()) && manager_->isValidCronExpression(data->getText()) &&
           isSet(data->getLink()) && isBackupStatus(data->getFlags());
}

bool ModifyBackupAction::validate(const ActionRecord& data) {
    return data->getNodeHandle() != 0 && isSet(data->getName()) && isSet(data->getText()) &&
           manager_->isValidCronExpression(data->getText()) && isSet(data->getLink()) &&
           isBackupStatus(data->getFlags());
}

bool RenameBackupAction::validate(const ActionRecord& data) {
    return data->getNodeHandle() != 0 && isSet(data->getName());
}

bool ChangeBackupScheduleAction::validate(const ActionRecord& data) {
    // The new cron expression travels in the name.
    return data->getNodeHandle() != 0 && isSet(data->getName()) && manager_->isValidCronExpression(data->getName());
}

bool ChangeBackupPathAction::validate(const ActionRecord& data) {
    return data->getNodeHandle() != 0 && isSet(data->getName());
}

bool ChangeBackupStatusAction::validate(const ActionRecord& data) {
    return data->getNodeHandle() != 0;
}

bool DeleteBackupAction::validate(const ActionRecord& data) {
    return data->getNodeHandle() != 0;
}

bool AuthorizeBackupAction::validate(const ActionRecord& data) {
    return data->getNodeHandle() != 0;
}

bool GetSnapshotsAction::validate(const ActionRecord& data) {
    return data->getNodeHandle() != 0;
}

bool GetNextSnapshotsByDeviceAction::validate(const ActionRecord& data) {
    return data->getNodeHandle() != 0;
}

bool GetNextSnapshotsByBackupAction::validate(const ActionRecord& data) {
    return data->getNodeHandle() != 0 && data->getOption() != 0;
}

bool GetNextSnapshotsByScheduleAction::validate(const ActionRecord& data) {
    return data->getOption() != 0 && isSet(data->getName());
}

bool GetLastSnapshotsByDeviceAction::validate(const ActionRecord& data) {
    return data->getNodeHandle() != 0;
}

bool GetLastSnapshotsByBackupAction::validate(const ActionRecord& data) {
    return data->getNodeHandle() != 0 && data->getOption() != 0;
}

}  // namespace corvane
