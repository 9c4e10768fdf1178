#pragma once

#include "action/action_processor.h"

namespace corvane {

// Device, backup and snapshot query actions.
class RegisterDeviceAction : public TypedAction<REGISTER_DEVICE, Need::YES, Need::YES> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
};

class SelectDeviceAction : public TypedAction<SELECT_DEVICE, Need::YES, Need::NO> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
};

class GetCurrentDeviceAction : public TypedAction<GET_CURRENT_DEVICE, Need::YES, Need::NO> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override { return true; }
};

class GetDeviceAction : public TypedAction<GET_DEVICE, Need::YES, Need::NO> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
};

class GetDevicesAction : public TypedAction<GET_DEVICES, Need::YES, Need::NO> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override { return true; }
};

class RenameDeviceAction : public TypedAction<RENAME_DEVICE, Need::YES, Need::YES> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
};

class DeleteDeviceAction : public TypedAction<DELETE_DEVICE, Need::YES, Need::YES> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
};

class BackupAction : public TypedAction<BACKUP, Need::NO, Need::YES, RelayingRequestActionProcessor> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
    void onActionProgress(std::shared_ptr<ActionData> action) override { notifyProgress(asRecord(action)); }
    void onActionError(std::shared_ptr<ActionData> action) override { notifyError(asRecord(action)); }
    void onActionFinish(std::shared_ptr<ActionData> action) override { notifyFinish(asRecord(action)); }
};

class GetBackupAction : public TypedAction<GET_BACKUP, Need::YES, Need::NO> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
};

class GetBackupsAction : public TypedAction<GET_BACKUPS, Need::YES, Need::NO> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override { return true; }
};

class CreateBackupAction : public TypedAction<CREATE_BACKUP, Need::YES, Need::YES> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
};

class ModifyBackupAction : public TypedAction<MODIFY_BACKUP, Need::YES, Need::YES> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
};

class RenameBackupAction : public TypedAction<RENAME_BACKUP, Need::YES, Need::YES> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
};

class ChangeBackupScheduleAction : public TypedAction<CHANGE_BACKUP_SCHEDULE, Need::YES, Need::YES> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
};

class ChangeBackupPathAction : public TypedAction<CHANGE_BACKUP_PATH, Need::YES, Need::YES> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
};

class ChangeBackupStatusAction : public TypedAction<CHANGE_BACKUP_STATUS, Need::YES, Need::YES> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
};

class DeleteBackupAction : public TypedAction<DELETE_BACKUP, Need::YES, Need::YES> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
};

class AuthorizeBackupAction : public TypedAction<AUTHORIZE_BACKUP, Need::YES, Need::YES, ActionProcessor> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
};

class GetSnapshotsAction : public TypedAction<GET_SNAPSHOTS, Need::YES, Need::NO> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
};

class GetNextSnapshotsAction : public TypedAction<GET_NEXT_SNAPSHOTS, Need::YES, Need::NO> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override { return true; }
};

class GetNextSnapshotsByDeviceAction : public TypedAction<GET_NEXT_SNAPSHOTS_BY_DEVICE, Need::YES, Need::NO> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
};

class GetNextSnapshotsByBackupAction : public TypedAction<GET_NEXT_SNAPSHOTS_BY_BACKUP, Need::YES, Need::NO> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
};

class GetNextSnapshotsByAccountAction : public TypedAction<GET_NEXT_SNAPSHOTS_BY_ACCOUNT, Need::YES, Need::NO> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override { return true; }
};

class GetNextSnapshotsByScheduleAction : public TypedAction<GET_NEXT_SNAPSHOTS_BY_SCHEDULE, Need::YES, Need::NO> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
};

class GetLastSnapshotsAction : public TypedAction<GET_LAST_SNAPSHOTS, Need::YES, Need::NO> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override { return true; }
};

class GetLastSnapshotsByDeviceAction : public TypedAction<GET_LAST_SNAPSHOTS_BY_DEVICE, Need::YES, Need::NO> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
};

class GetLastSnapshotsByBackupAction : public TypedAction<GET_LAST_SNAPSHOTS_BY_BACKUP, Need::YES, Need::NO> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
};

class GetLastSnapshotsByAccountAction : public TypedAction<GET_LAST_SNAPSHOTS_BY_ACCOUNT, Need::YES, Need::NO> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override { return true; }
};

}  // namespace corvane
