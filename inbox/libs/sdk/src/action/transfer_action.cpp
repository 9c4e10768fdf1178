#include "action/transfer_action.h"

#include <algorithm>
#include <string>
#include <vector>

#include "api/api_manager.h"
#include "cloud/cloud.h"
#include "corvane/account_info_data.h"
#include "corvane/node_data.h"
#include "corvane/node_type.h"
#include "database/mutable_node_data.h"
#include "filesystem/filesystem_module.h"
#include "request/transfer_request.h"
#include "request/tree_request.h"
#include "transfer/transfer_manager.h"
#include "util/base64.h"

namespace corvane {

namespace {

constexpr int32_t kUploads = 0;
constexpr int32_t kDownloads = 1;
constexpr int32_t kBothDirections = 4;
constexpr int32_t kFilterAll = 5;
constexpr int32_t kFinishedStatus = 4;
constexpr size_t kPublicHandleLength = 22;
// Handle, "#" and a key of at least two characters.
constexpr size_t kMinimumLinkTail = kPublicHandleLength + 3;

// The parts of a public link: "/file/" or "/folder/", 22 characters of public handle in
// Base64URL, "#" and the node key in Base64URL. What stands before the marker is not read.
struct PublicLink {
    int32_t option = 0;
    ByteVector handle;
    ByteVector key;
};

bool parsePublicLink(const std::string& link, PublicLink& parsed) {
    std::string tail;
    const std::string file = "/file/";
    const std::string folder = "/folder/";
    size_t at = link.find(file);
    if (at != std::string::npos && at + file.size() < link.size()) {
        tail = link.substr(at + file.size());
        parsed.option = FILE_NODE;
    } else {
        at = link.find(folder);
        if (at == std::string::npos || at + folder.size() >= link.size()) {
            return false;
        }
        tail = link.substr(at + folder.size());
        parsed.option = FOLDER_NODE;
    }
    // A file link that fails here is not tried as a folder link.
    if (tail.find('#') != kPublicHandleLength || tail.size() < kMinimumLinkTail) {
        return false;
    }
    const std::string handleText = tail.substr(0, kPublicHandleLength);
    const std::string keyText = tail.substr(kPublicHandleLength + 1);
    Base64 base64;
    parsed.handle.resize(kPublicHandleLength);
    parsed.handle.resize(base64.decodeUrl(handleText.c_str(), parsed.handle.data(), parsed.handle.size()));
    parsed.key.resize(keyText.size());
    parsed.key.resize(base64.decodeUrl(keyText.c_str(), parsed.key.data(), parsed.key.size()));
    return true;
}

// A target that ends in a separator names a folder: the node's own name goes after it.
void applyFolderRule(MutableActionData& data, const NodeData& node) {
    const std::string name = data.getNameString();
    if (!name.empty() && (name.back() == '/' || name.back() == '\\')) {
        data.setName((name + node.getNameString()).c_str());
    }
}

// Uploads (0), downloads (1) or both (4).
bool isTransferDirection(int32_t value) {
    return value == 0 || value == 1 || value == 4;
}

}  // namespace

void UploadAction::process(const ActionRecord& data) {
    TransferManager* transfers = manager_->getTransferManager();
    FilesystemModule* filesystem = manager_->getFilesystem();
    if (transfers == nullptr || filesystem == nullptr) {
        endUnavailable(data);
        return;
    }
    withCachedNode(
        data, data->getParentHandle(), [this, data, transfers, filesystem](Cloud* cloud, Cloud::NodePointer parent) {
            if (parent->getType() == FILE_NODE) {
                endWithError(data, Error(WRONG_PARAMETERS));
                return;
            }
            const bool full = parent->isFull();
            filesystem->stat(data->getNameString(),
                             [this, data, transfers, cloud, full](int type, uint64_t, uint64_t size, bool ok) {
                                 if (!ok) {
                                     endWithError(data, Error(NOT_FOUND));
                                     return;
                                 }
                                 data->setSize(size);
                                 data->setOption(type == FOLDER_NODE ? FOLDER_NODE : FILE_NODE);
                                 // The new node's key is made for the account's scheme.
                                 if (std::shared_ptr<AccountInfoData> account = cloud->getAccountInfo()) {
                                     data->setCrypto(account->getCrypto());
                                 }
                                 if (full) {
                                     notifyProcessed(data);
                                     transfers->processTransferAction(data, this);
                                     return;
                                 }
                                 // One level of the parent's children first, so that name clashes can be seen.
                                 data->setSize(1);
                                 notifyProcessed(data);
                                 manager_->enqueueApiRequest(std::make_shared<GetNodesRequest>(data), this);
                                 data->setSize(size);
                             });
        });
}

void UploadAction::finished(std::shared_ptr<Request> request) {
    ActionRecord data = request->getActionData();
    if (!data) {
        return;
    }
    manager_->getTransferManager()->processTransferAction(data, this);
}

void DownloadAction::process(const ActionRecord& data) {
    if (manager_->getTransferManager() == nullptr) {
        endUnavailable(data);
        return;
    }
    if (isSet(data->getLink())) {
        PublicLink link;
        if (!parsePublicLink(data->getLinkString(), link)) {
            endWithError(data, Error(WRONG_PARAMETERS));
            return;
        }
        data->setPublicKey(new ByteVector(link.handle));
        data->setKey(&link.key);
        data->setOption(link.option);
        notifyProcessed(data);
        manager_->enqueueApiRequest(std::make_shared<DownloadRequest>(data), this);
        return;
    }
    withCachedNode(data, data->getNodeHandle(), [this, data](Cloud*, Cloud::NodePointer node) {
        applyFolderRule(*data, *node);
        data->setNode(node);
        data->setCrypto(node->getCrypto());
        data->setKey(node->getKey());
        data->setSize(node->getSize());
        notifyProcessed(data);
        handOver(data);
    });
}

void DownloadAction::finished(std::shared_ptr<Request> request) {
    ActionRecord data = request->getActionData();
    if (!data) {
        return;
    }
    if (data->getErrorCode() != SUCCESS) {
        notifyFinish(data);
        return;
    }
    Cloud* cloud = manager_->getCloud();
    if (cloud == nullptr) {
        data->setError(Error(UNKNOWN_ERROR));
        notifyFinish(data);
        return;
    }
    auto node = std::make_shared<MutableNodeData>();
    node->setId(data->getNodeHandle());
    node->setType(data->getOption());
    node->setSize(data->getSize());
    node->setKey(data->getKey());
    node->setCrypto(static_cast<uint8_t>(data->getCrypto()));
    if (const ByteVector* metadata = data->getMetadata(); metadata != nullptr && !metadata->empty()) {
        node->setMetadata(metadata->data(), metadata->size());
    }
    cloud->decryptAttributes(data->getCrypto(), data->getAttributes(), node, [this, data, node](bool ok) {
        if (!ok) {
            data->setError(Error(CRYPTOGRAPHIC_ERROR));
            notifyFinish(data);
            return;
        }
        data->setNode(node);
        applyFolderRule(*data, *node);
        if (const ByteVector* hash = node->getFullHash()) {
            data->setAuthKey(new ByteVector(*hash));
        }
        handOver(data);
    });
}

void DownloadAction::handOver(const ActionRecord& data) {
    manager_->getTransferManager()->processTransferAction(data, this);
}

void GetTransfersAction::process(const ActionRecord& data) {
    TransferManager* transfers = manager_->getTransferManager();
    if (transfers == nullptr) {
        endUnavailable(data);
        return;
    }
    const int32_t filter = data->getOption();
    std::shared_ptr<ActionDataList> list;
    if (data->getValue() == kBothDirections) {
        list = transfers->getActions(kUploads, filter);
        std::shared_ptr<ActionDataList> downloads = transfers->getActions(kDownloads, filter);
        list->insert(list->end(), downloads->begin(), downloads->end());
    } else {
        list = transfers->getActions(data->getValue(), filter);
        if (filter == kFilterAll) {
            // The leading run of finished actions goes to the end, newest of them first.
            auto run = std::find_if(list->begin(), list->end(), [](const std::shared_ptr<ActionData>& action) {
                return action->getFlags() != kFinishedStatus;
            });
            ActionDataList finished(list->begin(), run);
            list->erase(list->begin(), run);
            list->insert(list->end(), finished.rbegin(), finished.rend());
        }
    }
    data->setTransfers(std::move(list));
    notifyProcessed(data);
    notifyFinish(data);
}

void ClearFinishedTransfersAction::process(const ActionRecord& data) {
    TransferManager* transfers = manager_->getTransferManager();
    if (transfers == nullptr) {
        endUnavailable(data);
        return;
    }
    if (data->getValue() == kBothDirections && data->getOption() != 0) {
        transfers->clearFinishedAction(data->getOption());
    } else if (data->getValue() == kBothDirections) {
        transfers->clearFinished(kUploads);
        transfers->clearFinished(kDownloads);
    } else {
        transfers->clearFinished(data->getValue());
    }
    notifyProcessed(data);
    notifyFinish(data);
}

void CancelTransfersAction::process(const ActionRecord& data) {
    TransferManager* transfers = manager_->getTransferManager();
    if (transfers == nullptr) {
        endUnavailable(data);
        return;
    }
    if (data->getValue() == kBothDirections && data->getOption() != 0) {
        transfers->cancelAction(data->getOption());
    } else if (data->getValue() == kBothDirections) {
        transfers->cancelAll(kUploads);
        transfers->cancelAll(kDownloads);
    } else {
        transfers->cancelAll(data->getValue());
    }
    notifyProcessed(data);
    notifyFinish(data);
}

void SetTransferSpeedLimitAction::process(const ActionRecord& data) {
    manager_->setTransferSpeedLimit(static_cast<int32_t>(data->getNumber()), data->getOption());
    notifyProcessed(data);
    notifyFinish(data);
}

void GetTransferSpeedLimitAction::process(const ActionRecord& data) {
    data->setOption(static_cast<int32_t>(manager_->getTransferSpeedLimit(static_cast<int32_t>(data->getNumber()))));
    notifyProcessed(data);
    notifyFinish(data);
}

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
