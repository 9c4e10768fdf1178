#pragma once

#include <memory>

#include "action/action_processor.h"

namespace corvane {

// Public links: publishing a node, withdrawing a link, and reading what a link names without
// a session.
class CreateLinkAction : public TypedAction<CREATE_LINK, Need::YES, Need::YES> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
    void process(const ActionRecord& data) override;
    // Runs for the add-nodes request of a folder and for the create-link request.
    void finished(std::shared_ptr<Request> request) override;

private:
    void publish(const ActionRecord& data, Cloud* cloud, const std::shared_ptr<MutableNodeData>& node);
    void publishFolder(const ActionRecord& data, Cloud* cloud, const std::shared_ptr<MutableNodeData>& folder);
};

class GetLinkInfoAction : public TypedAction<GET_LINK_INFO, Need::NO, Need::NO> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
    void process(const ActionRecord& data) override;
    void finished(std::shared_ptr<Request> request) override;
};

class DeleteLinkAction : public TypedAction<DELETE_LINK, Need::YES, Need::YES> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
    void process(const ActionRecord& data) override;
};

}  // namespace corvane
