#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "action/action_processor.h"

namespace corvane {

class EncryptedNodeData;
class NodeData;

// Contact, outbox, sent-record, inbox, record and link session actions.
class AddContactAction : public TypedAction<ADD_CONTACT, Need::YES, Need::YES> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
    void process(const ActionRecord& data) override;
};

// The steps that contacts, outboxes, sent records, inboxes and records share: each writes a
// node of the account's tree and ends with the request that the service answers.
class FilingActionProcessor : public RequestActionProcessor {
public:
    using RequestActionProcessor::RequestActionProcessor;

protected:
    // Seals the new node (its parent set) and sends it in one AddNodes request.
    void addFiledNode(const ActionRecord& data, Cloud* cloud, const std::shared_ptr<MutableNodeData>& node);
    // Seals the new nodes and sends them in one AddNodes request.
    void addSealedNodes(const ActionRecord& data, Cloud* cloud,
                        const std::shared_ptr<std::vector<std::shared_ptr<NodeData>>>& nodes);
    // Seals a copy of the node with the action's name and sends it in one RenameNode request.
    void renameFiledNode(const ActionRecord& data, Cloud* cloud, const std::shared_ptr<MutableNodeData>& node);
    // Sends the sealed attributes of `copy` in one RenameNode request, with `extraNumber` when
    // given; a seal that yielded none ends with 4.
    void sendRename(const ActionRecord& data, const std::shared_ptr<MutableNodeData>& copy,
                    const std::shared_ptr<EncryptedNodeData>& sealed, std::optional<uint64_t> extraNumber);
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

class CreateInboxAction : public TypedAction<CREATE_INBOX, Need::YES, Need::YES, FilingActionProcessor> {
public:
    using TypedAction::TypedAction;
    void process(const ActionRecord& data) override;
    bool validate(const ActionRecord& data) override;
};

class SetInboxInfoAction : public TypedAction<SET_INBOX_INFO, Need::YES, Need::YES, FilingActionProcessor> {
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

class SetRecordInfoAction : public TypedAction<SET_RECORD_INFO, Need::YES, Need::YES, FilingActionProcessor> {
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
