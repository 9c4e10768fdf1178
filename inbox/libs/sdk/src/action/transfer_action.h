#pragma once

#include "action/action_processor.h"

namespace corvane {

// File transfer actions.
class UploadAction : public TypedAction<UPLOAD, Need::NO, Need::YES, RelayingRequestActionProcessor> {
public:
    using TypedAction::TypedAction;
    void process(const ActionRecord& data) override;
    // The parent's children are loaded (or failed to load): the transfer starts either way.
    void finished(std::shared_ptr<Request> request) override;
    bool validate(const ActionRecord& data) override;
    void onActionProgress(std::shared_ptr<ActionData> action) override { notifyProgress(asRecord(action)); }
    void onActionError(std::shared_ptr<ActionData> action) override { notifyError(asRecord(action)); }
    void onActionFinish(std::shared_ptr<ActionData> action) override { notifyFinish(asRecord(action)); }
};

class DownloadAction : public TypedAction<DOWNLOAD, Need::NO, Need::NO, RelayingRequestActionProcessor> {
public:
    using TypedAction::TypedAction;
    void process(const ActionRecord& data) override;
    // The link's download request was answered.
    void finished(std::shared_ptr<Request> request) override;
    bool validate(const ActionRecord& data) override;

private:
    void handOver(const ActionRecord& data);
    void onActionProgress(std::shared_ptr<ActionData> action) override { notifyProgress(asRecord(action)); }
    void onActionFinish(std::shared_ptr<ActionData> action) override { notifyFinish(asRecord(action)); }
};

class DownloadZipAction : public TypedAction<DOWNLOAD_ZIP, Need::NO, Need::NO, RelayingRequestActionProcessor> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
    void onActionProgress(std::shared_ptr<ActionData> action) override { notifyProgress(asRecord(action)); }
    void onActionFinish(std::shared_ptr<ActionData> action) override { notifyFinish(asRecord(action)); }
};

class StreamAction : public TypedAction<STREAM, Need::NO, Need::NO, RelayingActionProcessor> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
    void onActionFinish(std::shared_ptr<ActionData> action) override { notifyFinish(asRecord(action)); }
};

class GetTransfersAction : public TypedAction<GET_TRANSFERS, Need::NO, Need::NO> {
public:
    using TypedAction::TypedAction;
    void process(const ActionRecord& data) override;
    bool validate(const ActionRecord& data) override;
};

class ClearFinishedTransfersAction : public TypedAction<CLEAR_FINISHED_TRANSFERS, Need::NO, Need::NO> {
public:
    using TypedAction::TypedAction;
    void process(const ActionRecord& data) override;
    bool validate(const ActionRecord& data) override;
};

class CancelTransfersAction : public TypedAction<CANCEL_TRANSFERS, Need::NO, Need::NO> {
public:
    using TypedAction::TypedAction;
    void process(const ActionRecord& data) override;
    bool validate(const ActionRecord& data) override;
};

class SetTransferSpeedLimitAction : public TypedAction<SET_TRANSFER_SPEED_LIMIT, Need::NO, Need::NO> {
public:
    using TypedAction::TypedAction;
    void process(const ActionRecord& data) override;
    bool validate(const ActionRecord& data) override;
};

class GetTransferSpeedLimitAction : public TypedAction<GET_TRANSFER_SPEED_LIMIT, Need::NO, Need::NO> {
public:
    using TypedAction::TypedAction;
    void process(const ActionRecord& data) override;
    bool validate(const ActionRecord& data) override;
};

}  // namespace corvane
