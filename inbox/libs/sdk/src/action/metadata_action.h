#pragma once

#include "action/action_processor.h"

namespace corvane {

// Metadata transfer actions: thumbnails and previews of a node as sealed blobs. Each asks for
// the blob's link, hands the blob to the metadata manager and hears its end as onActionFinish;
// an upload then attaches the blob to its node.
class UploadMetadataAction : public TypedAction<UPLOAD_METADATA, Need::NO, Need::YES, RelayingRequestActionProcessor> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
    void process(const ActionRecord& data) override;
    void finished(std::shared_ptr<Request> request) override;
    void onActionFinish(std::shared_ptr<ActionData> action) override;
};

class DownloadMetadataAction
    : public TypedAction<DOWNLOAD_METADATA, Need::NO, Need::NO, RelayingRequestActionProcessor> {
public:
    using TypedAction::TypedAction;
    bool validate(const ActionRecord& data) override;
    void process(const ActionRecord& data) override;
    void finished(std::shared_ptr<Request> request) override;
    void onActionFinish(std::shared_ptr<ActionData> action) override { notifyFinish(asRecord(action)); }

private:
    // Asks for the link of the blob named by the record's parent handle.
    void requestLink(const ActionRecord& data);
};

}  // namespace corvane
