#pragma once

#include <memory>

#include "action/action_processor.h"

namespace corvane {

// Node reading and changing, secret, shared drive and meeting actions.
class GetNodesAction : public TypedAction<GET_NODES, Need::YES, Need::NO> {
public:
    using TypedAction::TypedAction;
    void process(const ActionRecord& data) override;
    bool validate(const ActionRecord& data) override { return true; }
};

class GetRootAction : public TypedAction<GET_ROOT, Need::YES, Need::NO> {
public:
    using TypedAction::TypedAction;
    void process(const ActionRecord& data) override;
    bool validate(const ActionRecord& data) override;
};

class GetChildrenAction : public TypedAction<GET_CHILDREN, Need::YES, Need::NO> {
public:
    using TypedAction::TypedAction;
    void process(const ActionRecord& data) override;
    void finished(std::shared_ptr<Request> request) override;
    bool validate(const ActionRecord& data) override;

private:
    // Lists the folder's children from the cache as option and value ask, then finishes.
    void listChildren(const ActionRecord& data, bool notifyProcessedFirst);
};

class GetNodeAction : public TypedAction<GET_NODE, Need::YES, Need::NO> {
public:
    using TypedAction::TypedAction;
    void process(const ActionRecord& data) override;
    void finished(std::shared_ptr<Request> request) override;
    bool validate(const ActionRecord& data) override;
};

class GetPathAction : public TypedAction<GET_PATH, Need::YES, Need::NO> {
public:
    using TypedAction::TypedAction;
    void process(const ActionRecord& data) override;
    bool validate(const ActionRecord& data) override;
};

class AddNodesAction : public TypedAction<ADD_NODES, Need::YES, Need::YES> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
    void process(const ActionRecord& data) override;
};

class DeleteNodeAction : public TypedAction<DELETE_NODE, Need::YES, Need::YES> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
    void process(const ActionRecord& data) override;

private:
    void deleteUnderRoot(const ActionRecord& data, const std::shared_ptr<NodeData>& node, uint64_t rootId);
};

class RenameNodeAction : public TypedAction<RENAME_NODE, Need::YES, Need::YES> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
    void process(const ActionRecord& data) override;
};

class MoveNodeAction : public TypedAction<MOVE_NODE, Need::YES, Need::YES> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
    void process(const ActionRecord& data) override;
};

class CopyNodeAction : public TypedAction<COPY_NODE, Need::YES, Need::YES> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
    void process(const ActionRecord& data) override;
};

class GetNodeTreeAction : public TypedAction<GET_NODE_TREE, Need::YES, Need::NO> {
public:
    using TypedAction::TypedAction;
    void process(const ActionRecord& data) override;
    bool validate(const ActionRecord& data) override;
};

class ManageSecretsAction : public TypedAction<MANAGE_SECRETS, Need::YES, Need::BY_RECORD> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
    bool needsWriteAccess(const ActionRecord& data) override;
};

class ManageSharedDrivesAction : public TypedAction<MANAGE_SHARED_DRIVES, Need::YES, Need::BY_RECORD> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override { return true; }
    bool needsWriteAccess(const ActionRecord& data) override;
};

class ManageMeetingsAction : public TypedAction<MANAGE_MEETINGS, Need::YES, Need::NO> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
};

}  // namespace corvane
