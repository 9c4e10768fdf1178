#pragma once

#include "action/action_processor.h"

namespace corvane {

// Contact, outbox, sent-record, inbox, record and link session actions.
class AddContactAction : public TypedAction<ADD_CONTACT, Need::YES, Need::YES> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
    void process(const ActionRecord& data) override;
};

// The steps that contacts, outboxes and sent records share: each files a node under the
// contacts root and ends with the request that the service answers.
class FilingActionProcessor : public RequestActionProcessor {
public:
    using RequestActionProcessor::RequestActionProcessor;

protected:
    // Seals the new node (its parent set) and sends it in one AddNodes request.
    void addFiledNode(const ActionRecord& data, Cloud* cloud, const std::shared_ptr<MutableNodeData>& node);
    // Seals a copy of the node with the action's name and sends it in one RenameNode request.
    void renameFiledNode(const ActionRecord& data, Cloud* cloud, const std::shared_ptr<MutableNodeData>& node);
    // Seals the node's key for the parent and sends one DeleteNode request; the filesystem is
    // the one given, or when 0 the one the key came back with.
    void deleteFiledNode(const ActionRecord& data, Cloud* cloud, const std::shared_ptr<MutableNodeData>& node,
                         const std::shared_ptr<MutableNodeData>& parent, uint64_t filesystem);
};

class ManageContactsAction : public TypedAction<MANAGE_CONTACTS, Need::YES, Need::YES, FilingActionProcessor> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
    void process(const ActionRecord& data) override;

private:
    void createContact(const ActionRecord& data);
};

class ManageOutboxesAction : public TypedAction<MANAGE_OUTBOXES, Need::YES, Need::YES, FilingActionProcessor> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
    void process(const ActionRecord& data) override;

private:
    void createOutbox(const ActionRecord& data, Cloud* cloud, const std::shared_ptr<MutableNodeData>& contact);
};

class ManageSentRecordsAction : public TypedAction<MANAGE_SENT_RECORDS, Need::YES, Need::YES, FilingActionProcessor> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
    void process(const ActionRecord& data) override;
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
