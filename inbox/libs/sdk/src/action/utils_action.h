#pragma once

#include "action/action_processor.h"

namespace corvane {

// Self-update, crash report, event log, proxy, test and shutdown actions.
class TestAction : public TypedAction<TEST, Need::NO, Need::NO> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override { return true; }
    void process(const ActionRecord& data) override;
};

class LogEventAction : public TypedAction<LOG_EVENT, Need::NO, Need::NO> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
};

class TestProxyAction : public TypedAction<TEST_PROXY, Need::NO, Need::NO> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
};

class SetProxyAction : public TypedAction<SET_PROXY, Need::NO, Need::NO> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
};

class CrashReportAction : public TypedAction<CRASH_REPORT, Need::NO, Need::NO> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
};

class UpdateAction : public TypedAction<UPDATE, Need::NO, Need::NO> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
};

class DestroyAction : public TypedAction<DESTROY, Need::NO, Need::NO> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override { return true; }
    void process(const ActionRecord& data) override;
};

}  // namespace corvane
