#include "action/transfer_action.h"

namespace corvane {

namespace {

// Uploads (0), downloads (1) or both (4).
bool isTransferDirection(int32_t value) {
    return value == 0 || value == 1 || value == 4;
}

}  // namespace

bool UploadAction::validate(const ActionRecord& data) {
    return isSet(data->getName()) && data->getParentHandle() != 0;
}

bool DownloadAction::validate(const ActionRecord& data) {
    return (data->getNodeHandle() != 0 || isSet(data->getLink())) && isSet(data->getName());
}

bool DownloadZipAction::validate(const ActionRecord& data) {
    return data->getNodeHandle() != 0 && isSet(data->getName());
}

bool StreamAction::validate(const ActionRecord& data) {
    return data->getNodeHandle() != 0 || isSet(data->getLink());
}

bool GetTransfersAction::validate(const ActionRecord& data) {
    return isTransferDirection(data->getValue()) && data->getOption() >= 0 && data->getOption() <= 6;
}

bool ClearFinishedTransfersAction::validate(const ActionRecord& data) {
    return isTransferDirection(data->getValue());
}

bool CancelTransfersAction::validate(const ActionRecord& data) {
    return isTransferDirection(data->getValue());
}

bool SetTransferSpeedLimitAction::validate(const ActionRecord& data) {
    return data->getNumber() <= 1 && data->getOption() >= 0;
}

bool GetTransferSpeedLimitAction::validate(const ActionRecord& data) {
    return data->getNumber() <= 1;
}

}  // namespace corvane
