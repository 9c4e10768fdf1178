#include "action/action_directory.h"

#include "action/account_action.h"
#include "action/backup_action.h"
#include "action/cloud_action.h"
#include "action/inbox_action.h"
#include "action/metadata_action.h"
#include "action/public_link_action.h"
#include "action/transfer_action.h"
#include "action/utils_action.h"
#include "corvane/action_types.h"
#include "util/log.h"

namespace corvane {

// One item class per type, named after its action class.
#define CORVANE_DIRECTORY_ITEM(ActionClass, type)                                                            \
    class ActionClass##DirectoryItem : public ActionProcessorDirectoryItem {                                 \
    public:                                                                                                  \
        ActionClass##DirectoryItem() : ActionProcessorDirectoryItem(type) {}                                 \
        ActionProcessor* create(ApiManager* manager, TaskManager* loop, ActionListener* listener) override { \
            return new ActionClass(manager, loop, listener);                                                 \
        }                                                                                                    \
    };                                                                                                       \
    registerProcessor(new ActionClass##DirectoryItem())

ActionProcessorDirectory::ActionProcessorDirectory() : items_(ACTION_TYPE_COUNT, nullptr) {
    CORVANE_DIRECTORY_ITEM(TestAction, TEST);
    CORVANE_DIRECTORY_ITEM(AddContactAction, ADD_CONTACT);
    CORVANE_DIRECTORY_ITEM(VerifyEmailAction, VERIFY_EMAIL);
    CORVANE_DIRECTORY_ITEM(ForgotPasswordAction, FORGOT_PASSWORD);
    CORVANE_DIRECTORY_ITEM(CreateAccountAction, CREATE_ACCOUNT);
    CORVANE_DIRECTORY_ITEM(ChangePasswordAction, CHANGE_PASSWORD);
    CORVANE_DIRECTORY_ITEM(RecoveryKeyAction, RECOVERY_KEY);
    CORVANE_DIRECTORY_ITEM(Manage2faAction, MANAGE_2FA);
    CORVANE_DIRECTORY_ITEM(LoginAction, LOGIN);
    CORVANE_DIRECTORY_ITEM(GetNodesAction, GET_NODES);
    CORVANE_DIRECTORY_ITEM(GetRootAction, GET_ROOT);
    CORVANE_DIRECTORY_ITEM(GetChildrenAction, GET_CHILDREN);
    CORVANE_DIRECTORY_ITEM(GetNodeAction, GET_NODE);
    CORVANE_DIRECTORY_ITEM(GetPathAction, GET_PATH);
    CORVANE_DIRECTORY_ITEM(AddNodesAction, ADD_NODES);
    CORVANE_DIRECTORY_ITEM(DeleteNodeAction, DELETE_NODE);
    CORVANE_DIRECTORY_ITEM(RenameNodeAction, RENAME_NODE);
    CORVANE_DIRECTORY_ITEM(MoveNodeAction, MOVE_NODE);
    CORVANE_DIRECTORY_ITEM(CopyNodeAction, COPY_NODE);
    CORVANE_DIRECTORY_ITEM(CreateLinkAction, CREATE_LINK);
    CORVANE_DIRECTORY_ITEM(GetLinkInfoAction, GET_LINK_INFO);
    CORVANE_DIRECTORY_ITEM(UserInfoAction, USER_INFO);
    CORVANE_DIRECTORY_ITEM(AccountInfoAction, ACCOUNT_INFO);
    CORVANE_DIRECTORY_ITEM(LogEventAction, LOG_EVENT);
    CORVANE_DIRECTORY_ITEM(TestProxyAction, TEST_PROXY);
    CORVANE_DIRECTORY_ITEM(SetProxyAction, SET_PROXY);
    CORVANE_DIRECTORY_ITEM(UploadAction, UPLOAD);
    CORVANE_DIRECTORY_ITEM(DownloadAction, DOWNLOAD);
    CORVANE_DIRECTORY_ITEM(DownloadZipAction, DOWNLOAD_ZIP);
    CORVANE_DIRECTORY_ITEM(StreamAction, STREAM);
    CORVANE_DIRECTORY_ITEM(BackupAction, BACKUP);
    CORVANE_DIRECTORY_ITEM(UploadMetadataAction, UPLOAD_METADATA);
    CORVANE_DIRECTORY_ITEM(DownloadMetadataAction, DOWNLOAD_METADATA);
    CORVANE_DIRECTORY_ITEM(GetTransfersAction, GET_TRANSFERS);
    CORVANE_DIRECTORY_ITEM(ClearFinishedTransfersAction, CLEAR_FINISHED_TRANSFERS);
    CORVANE_DIRECTORY_ITEM(CancelTransfersAction, CANCEL_TRANSFERS);
    CORVANE_DIRECTORY_ITEM(SetTransferSpeedLimitAction, SET_TRANSFER_SPEED_LIMIT);
    CORVANE_DIRECTORY_ITEM(GetTransferSpeedLimitAction, GET_TRANSFER_SPEED_LIMIT);
    CORVANE_DIRECTORY_ITEM(RegisterDeviceAction, REGISTER_DEVICE);
    CORVANE_DIRECTORY_ITEM(SelectDeviceAction, SELECT_DEVICE);
    CORVANE_DIRECTORY_ITEM(GetCurrentDeviceAction, GET_CURRENT_DEVICE);
    CORVANE_DIRECTORY_ITEM(GetDeviceAction, GET_DEVICE);
    CORVANE_DIRECTORY_ITEM(GetDevicesAction, GET_DEVICES);
    CORVANE_DIRECTORY_ITEM(RenameDeviceAction, RENAME_DEVICE);
    CORVANE_DIRECTORY_ITEM(DeleteDeviceAction, DELETE_DEVICE);
    CORVANE_DIRECTORY_ITEM(GetBackupAction, GET_BACKUP);
    CORVANE_DIRECTORY_ITEM(GetBackupsAction, GET_BACKUPS);
    CORVANE_DIRECTORY_ITEM(CreateBackupAction, CREATE_BACKUP);
    CORVANE_DIRECTORY_ITEM(ModifyBackupAction, MODIFY_BACKUP);
    CORVANE_DIRECTORY_ITEM(RenameBackupAction, RENAME_BACKUP);
    CORVANE_DIRECTORY_ITEM(ChangeBackupScheduleAction, CHANGE_BACKUP_SCHEDULE);
    CORVANE_DIRECTORY_ITEM(ChangeBackupPathAction, CHANGE_BACKUP_PATH);
    CORVANE_DIRECTORY_ITEM(ChangeBackupStatusAction, CHANGE_BACKUP_STATUS);
    CORVANE_DIRECTORY_ITEM(DeleteBackupAction, DELETE_BACKUP);
    CORVANE_DIRECTORY_ITEM(AuthorizeBackupAction, AUTHORIZE_BACKUP);
    CORVANE_DIRECTORY_ITEM(GetSnapshotsAction, GET_SNAPSHOTS);
    CORVANE_DIRECTORY_ITEM(GetNextSnapshotsAction, GET_NEXT_SNAPSHOTS);
    CORVANE_DIRECTORY_ITEM(GetNextSnapshotsByDeviceAction, GET_NEXT_SNAPSHOTS_BY_DEVICE);
    CORVANE_DIRECTORY_ITEM(GetNextSnapshotsByBackupAction, GET_NEXT_SNAPSHOTS_BY_BACKUP);
    CORVANE_DIRECTORY_ITEM(GetNextSnapshotsByAccountAction, GET_NEXT_SNAPSHOTS_BY_ACCOUNT);
    CORVANE_DIRECTORY_ITEM(GetNextSnapshotsByScheduleAction, GET_NEXT_SNAPSHOTS_BY_SCHEDULE);
    CORVANE_DIRECTORY_ITEM(GetLastSnapshotsAction, GET_LAST_SNAPSHOTS);
    CORVANE_DIRECTORY_ITEM(GetLastSnapshotsByDeviceAction, GET_LAST_SNAPSHOTS_BY_DEVICE);
    CORVANE_DIRECTORY_ITEM(GetLastSnapshotsByBackupAction, GET_LAST_SNAPSHOTS_BY_BACKUP);
    CORVANE_DIRECTORY_ITEM(GetLastSnapshotsByAccountAction, GET_LAST_SNAPSHOTS_BY_ACCOUNT);
    CORVANE_DIRECTORY_ITEM(CreateInboxAction, CREATE_INBOX);
    CORVANE_DIRECTORY_ITEM(SetInboxInfoAction, SET_INBOX_INFO);
    CORVANE_DIRECTORY_ITEM(GetInboxInfoAction, GET_INBOX_INFO);
    CORVANE_DIRECTORY_ITEM(LoginLinkAction, LOGIN_LINK);
    CORVANE_DIRECTORY_ITEM(SetRecordInfoAction, SET_RECORD_INFO);
    CORVANE_DIRECTORY_ITEM(UploadToRecordAction, UPLOAD_TO_RECORD);
    CORVANE_DIRECTORY_ITEM(RemoveFromRecordAction, REMOVE_FROM_RECORD);
    CORVANE_DIRECTORY_ITEM(GetRecordInfoAction, GET_RECORD_INFO);
    CORVANE_DIRECTORY_ITEM(SetRecordStatusAction, SET_RECORD_STATUS);
    CORVANE_DIRECTORY_ITEM(SubscriptionOptionsAction, SUBSCRIPTION_OPTIONS);
    CORVANE_DIRECTORY_ITEM(PaymentInfoAction, PAYMENT_INFO);
    CORVANE_DIRECTORY_ITEM(RemovePaymentMethodAction, REMOVE_PAYMENT_METHOD);
    CORVANE_DIRECTORY_ITEM(SetInvoicingAddressAction, SET_INVOICING_ADDRESS);
    CORVANE_DIRECTORY_ITEM(InvoicingInfoAction, INVOICING_INFO);
    CORVANE_DIRECTORY_ITEM(GetInvoiceAction, GET_INVOICE);
    CORVANE_DIRECTORY_ITEM(SessionInfoAction, SESSION_INFO);
    CORVANE_DIRECTORY_ITEM(LogoutLinkAction, LOGOUT_LINK);
    CORVANE_DIRECTORY_ITEM(CrashReportAction, CRASH_REPORT);
    CORVANE_DIRECTORY_ITEM(UpdateAction, UPDATE);
    CORVANE_DIRECTORY_ITEM(LogoutAction, LOGOUT);
    CORVANE_DIRECTORY_ITEM(CurrentEmailAction, CURRENT_EMAIL);
    CORVANE_DIRECTORY_ITEM(NewSessionAction, NEW_SESSION);
    CORVANE_DIRECTORY_ITEM(DestroyAction, DESTROY);
    CORVANE_DIRECTORY_ITEM(ReferralsInfoAction, REFERRALS_INFO);
    CORVANE_DIRECTORY_ITEM(BalancesInfoAction, BALANCES_INFO);
    CORVANE_DIRECTORY_ITEM(CouponsAction, COUPONS);
    CORVANE_DIRECTORY_ITEM(AddPaymentMethodAction, ADD_PAYMENT_METHOD);
    CORVANE_DIRECTORY_ITEM(JoinLinkAction, JOIN_LINK);
    CORVANE_DIRECTORY_ITEM(DefaultAccountAction, DEFAULT_ACCOUNT);
    CORVANE_DIRECTORY_ITEM(RevokeAccountAccessAction, REVOKE_ACCOUNT_ACCESS);
    CORVANE_DIRECTORY_ITEM(ManageSecretsAction, MANAGE_SECRETS);
    CORVANE_DIRECTORY_ITEM(ManageContactsAction, MANAGE_CONTACTS);
    CORVANE_DIRECTORY_ITEM(ManageOutboxesAction, MANAGE_OUTBOXES);
    CORVANE_DIRECTORY_ITEM(ManageSentRecordsAction, MANAGE_SENT_RECORDS);
    CORVANE_DIRECTORY_ITEM(GetNodeTreeAction, GET_NODE_TREE);
    CORVANE_DIRECTORY_ITEM(SetAccountValueAction, SET_ACCOUNT_VALUE);
    CORVANE_DIRECTORY_ITEM(DeleteAccountAction, DELETE_ACCOUNT);
    CORVANE_DIRECTORY_ITEM(SetAccessLevelAction, SET_ACCESS_LEVEL);
    CORVANE_DIRECTORY_ITEM(ManageSharedDrivesAction, MANAGE_SHARED_DRIVES);
    CORVANE_DIRECTORY_ITEM(DeleteLinkAction, DELETE_LINK);
    CORVANE_DIRECTORY_ITEM(ManageMeetingsAction, MANAGE_MEETINGS);

    if (count_ != ACTION_TYPE_COUNT) {
        CLOG_CRITICAL("[action] {} action processors were not registered", ACTION_TYPE_COUNT - count_);
    }
}

#undef CORVANE_DIRECTORY_ITEM

ActionProcessorDirectory::~ActionProcessorDirectory() {
    for (ActionProcessorDirectoryItem* item : items_) {
        delete item;
    }
}

void ActionProcessorDirectory::registerProcessor(ActionProcessorDirectoryItem* item) {
    uint32_t type = uint32_t(item->getType());
    if (type >= ACTION_TYPE_COUNT) {
        CLOG_CRITICAL("[action] Invalid action processor. Type: {} Name: {}", type, getName(type));
        delete item;
        return;
    }
    if (items_[type] != nullptr) {
        CLOG_CRITICAL("[action] Trying to register an action processor twice. Type: {} Name: {}", type, getName(type));
        delete item;
        return;
    }
    items_[type] = item;
    ++count_;
}

ActionProcessor* ActionProcessorDirectory::createProcessor(uint32_t type, ApiManager* manager, TaskManager* loop,
                                                           ActionListener* listener) const {
    if (type >= ACTION_TYPE_COUNT) {
        CLOG_ERROR("[action] Trying to get an action processor of the invalid type {}", type);
        return nullptr;
    }
    if (items_[type] == nullptr) {
        return nullptr;
    }
    return items_[type]->create(manager, loop, listener);
}

const char* ActionProcessorDirectory::getName(uint32_t type) const {
    if (type >= ACTION_TYPE_COUNT) {
        CLOG_ERROR("[action] Trying to get the name of an invalid action processor type: {}", type);
        return "INVALID";
    }
    return getActionTypeName(int32_t(type));
}

}  // namespace corvane
