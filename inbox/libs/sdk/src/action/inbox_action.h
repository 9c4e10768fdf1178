#pragma once

#include "action/action_processor.h"

namespace corvane {

// Contact, outbox, sent-record, inbox, record and link session actions.
class AddContactAction : public TypedAction<ADD_CONTACT, Need::YES, Need::YES> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
};

class ManageContactsAction : public TypedAction<MANAGE_CONTACTS, Need::YES, Need::YES> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
};

class ManageOutboxesAction : public TypedAction<MANAGE_OUTBOXES, Need::YES, Need::YES> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
};

class ManageSentRecordsAction : public TypedAction<MANAGE_SENT_RECORDS, Need::YES, Need::YES> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
};

class CreateInboxAction : public TypedAction<CREATE_INBOX, Need::YES, Need::YES> {
public:
    using TypedAction::TypedAction;
    void process(const ActionRecord& data) override;
    bool validate(const ActionRecord& data) override;
};

class SetInboxInfoAction : public TypedAction<SET_INBOX_INFO, Need::YES, Need::YES> {
public:
    using TypedAction::TypedAction;
    void process(const ActionRecord& data) override;
    bool validate(const ActionRecord& data) override;
};

class GetInboxInfoAction : public TypedAction<GET_INBOX_INFO, Need::NO, Need::NO> {
public:
    using TypedAction::TypedAction;
    void process(const ActionRecord& data) override;
    void finished(std::shared_ptr<Request> request) override;
    bool validate(const ActionRecord& data) override;
};

class SetRecordInfoAction : public TypedAction<SET_RECORD_INFO, Need::YES, Need::YES> {
public:
    using TypedAction::TypedAction;
    void process(const ActionRecord& data) override;
    bool validate(const ActionRecord& data) override { return true; }
};

class UploadToRecordAction
    : public TypedAction<UPLOAD_TO_RECORD, Need::YES, Need::YES, RelayingRequestActionProcessor> {
public:
    using TypedAction::TypedAction;
    void process(const ActionRecord& data) override;
    bool validate(const ActionRecord& data) override;
    void onActionProgress(std::shared_ptr<ActionData> action) override { notifyProgress(asRecord(action)); }
    void onActionFinish(std::shared_ptr<ActionData> action) override { notifyFinish(asRecord(action)); }
};

class RemoveFromRecordAction : public TypedAction<REMOVE_FROM_RECORD, Need::YES, Need::YES> {
public:
    using TypedAction::TypedAction;
    void process(const ActionRecord& data) override;
    bool validate(const ActionRecord& data) override;
};

class GetRecordInfoAction : public TypedAction<GET_RECORD_INFO, Need::NO, Need::NO> {
public:
    using TypedAction::TypedAction;
    void process(const ActionRecord& data) override;
    bool validate(const ActionRecord& data) override;
};

class SetRecordStatusAction : public TypedAction<SET_RECORD_STATUS, Need::YES, Need::YES> {
public:
    using TypedAction::TypedAction;
    void process(const ActionRecord& data) override;
    bool validate(const ActionRecord& data) override;
};

class LoginLinkAction : public TypedAction<LOGIN_LINK, Need::NO, Need::NO> {
public:
    using TypedAction::TypedAction;
    void process(const ActionRecord& data) override;
    bool validate(const ActionRecord& data) override;
};

class LogoutLinkAction : public TypedAction<LOGOUT_LINK, Need::YES, Need::NO> {
public:
    using TypedAction::TypedAction;
    void process(const ActionRecord& data) override;
    bool validate(const ActionRecord& data) override { return true; }
};

}  // namespace corvane
