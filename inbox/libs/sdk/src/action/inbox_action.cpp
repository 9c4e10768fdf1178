#include "action/inbox_action.h"

#include <functional>
#include <optional>
#include <string>

#include "action/link_text.h"
#include "api/api_manager.h"
#include "cloud/cloud.h"
#include "corvane/node_data.h"
#include "corvane/node_type.h"
#include "database/mutable_node_data.h"
#include "filesystem/filesystem_module.h"
#include "request/account_settings_request.h"
#include "request/cloud_request.h"
#include "request/link_session_request.h"
#include "request/transfer_request.h"
#include "transfer/transfer_manager.h"
#include "util/log.h"

namespace corvane {

namespace {

constexpr int32_t kRegularFile = FILE_NODE;
constexpr uint8_t kRecordCrypto = 1;
constexpr int32_t kOfflineLogout = 2;

// The record of the open link session: its main root, when that is a record. Ends the action
// with 2 in an account session and with 1 without a record.
std::shared_ptr<MutableNodeData> sessionRecord(ApiManager* manager, Cloud* cloud, Error* error) {
    if (!manager->getEmail().empty()) {
        *error = Error(FORBIDDEN);
        return nullptr;
    }
    auto root = cloud != nullptr ? cloud->getMainRoot() : nullptr;
    if (!root || root->getType() != RECORD_NODE) {
        *error = Error(NOT_FOUND);
        return nullptr;
    }
    return root;
}

ByteVector* copyOf(const std::vector<uint8_t>& bytes) {
    return new ByteVector(bytes.begin(), bytes.end());
}

}  // namespace

bool AddContactAction::validate(const ActionRecord& data) {
    return isSet(data->getEmail());
}

bool ManageContactsAction::validate(const ActionRecord& data) {
    if (data->getAccountHandle() != 0) {
        return isNonEmpty(data->getName());
    }
    return data->getNodeHandle() != 0;
}

bool ManageOutboxesAction::validate(const ActionRecord& data) {
    return data->getNodeHandle() != 0 && (!isNonEmpty(data->getLink()) || isNonEmpty(data->getName()));
}

bool ManageSentRecordsAction::validate(const ActionRecord& data) {
    return data->getNodeHandle() != 0 && isNonEmpty(data->getLink());
}

// --- contacts, outboxes and sent records ---

namespace {

bool sameBytes(const ByteVector* stored, const ByteVector& given) {
    return stored != nullptr ? *stored == given : given.empty();
}

// The first child that the test picks, or null.
std::shared_ptr<NodeData> findChild(const Cloud::NodeListPointer& children,
                                    const std::function<bool(const NodeData&)>& test) {
    if (children) {
        for (const auto& child : *children) {
            if (child && test(*child)) {
                return child;
            }
        }
    }
    return nullptr;
}

}  // namespace

void FilingActionProcessor::addFiledNode(const ActionRecord& data, Cloud* cloud,
                                         const std::shared_ptr<MutableNodeData>& node) {
    // The request takes the new node's parent from the record.
    data->setParentHandle(node->getParent());
    node->setCrypto(cloud->getAccountCrypto());
    addSealedNodes(data, cloud, std::make_shared<NodeList>(NodeList{node}));
}

void FilingActionProcessor::addSealedNodes(const ActionRecord& data, Cloud* cloud,
                                           const std::shared_ptr<NodeList>& nodes) {
    cloud->encryptNodeList(nodes, [this, data](std::shared_ptr<EncryptedNodeList> sealed) {
        if (!sealed || sealed->empty()) {
            endWithError(data, Error(CRYPTOGRAPHIC_ERROR));
            return;
        }
        notifyProcessed(data);
        manager_->enqueueApiRequest(std::make_shared<AddNodesRequest>(data, sealed, manager_->getClientId()), this);
    });
}

void FilingActionProcessor::renameFiledNode(const ActionRecord& data, Cloud* cloud,
                                            const std::shared_ptr<MutableNodeData>& node) {
    auto copy = std::make_shared<MutableNodeData>(*node);
    copy->setName(data->getName());
    cloud->encryptNode(copy, [this, data, copy](Cloud::EncryptedNodePointer sealed) {
        // The service stores the extra number a rename carries and the cache takes the one it
        // answers: without the node's own, a contact would lose the account it stands for.
        sendRename(data, copy, sealed, copy->getExtraNumber());
    });
}

void FilingActionProcessor::sendRename(const ActionRecord& data, const std::shared_ptr<MutableNodeData>& copy,
                                       const Cloud::EncryptedNodePointer& sealed, std::optional<uint64_t> extraNumber) {
    if (!sealed || sealed->getEncryptedAttributes() == nullptr) {
        endWithError(data, Error(CRYPTOGRAPHIC_ERROR));
        return;
    }
    data->setAttributes(new ByteVector(*sealed->getEncryptedAttributes()));
    data->setNode(copy);
    notifyProcessed(data);
    const uint64_t clientId = manager_->getClientId();
    manager_->enqueueApiRequest(extraNumber ? std::make_shared<RenameNodeRequest>(data, clientId, *extraNumber)
                                            : std::make_shared<RenameNodeRequest>(data, clientId),
                                this);
}

void FilingActionProcessor::deleteFiledNode(const ActionRecord& data, Cloud* cloud,
                                            const std::shared_ptr<MutableNodeData>& node,
                                            const std::shared_ptr<MutableNodeData>& parent, uint64_t filesystem) {
    cloud->encryptChildKey(node, parent, [this, data, filesystem](uint64_t sealedIn, std::shared_ptr<ByteVector> key) {
        if (!key) {
            CLOG_ERROR("Unable to encrypt child key");
            endWithError(data, Error(CRYPTOGRAPHIC_ERROR));
            return;
        }
        data->setNumber(filesystem != 0 ? filesystem : sealedIn);
        data->setUserKey(new ByteVector(std::move(*key)));
        notifyProcessed(data);
        manager_->enqueueApiRequest(std::make_shared<DeleteNodeRequest>(data, manager_->getClientId()), this);
    });
}

void AddContactAction::process(const ActionRecord& data) {
    // Only ASCII letters are folded: the service compares addresses byte by byte.
    std::string email = data->getEmail();
    for (char& c : email) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    data->setEmail(email.c_str());
    notifyProcessed(data);
    manager_->enqueueApiRequest(std::make_shared<AddContactRequest>(data), this);
}

void ManageContactsAction::process(const ActionRecord& data) {
    if (data->getAccountHandle() != 0) {
        createContact(data);
        return;
    }
    withCachedNode(data, data->getNodeHandle(), [this, data](Cloud* cloud, Cloud::NodePointer contact) {
        // Anything else given by mistake would be renamed or deleted as if it were a contact.
        if (contact->getType() != CONTACT_NODE) {
            endWithError(data, Error(WRONG_PARAMETERS));
            return;
        }
        if (isNonEmpty(data->getName())) {
            renameFiledNode(data, cloud, contact);
            return;
        }
        std::shared_ptr<NodeData> root = cloud->getRoot(CONTACTS_ROOT);
        if (!root) {
            CLOG_WARN("No contacts root to delete contact {} from", contact->getId());
            endWithError(data, Error(NOT_FOUND));
            return;
        }
        withCachedNode(data, root->getId(), [this, data, contact](Cloud* cloud, Cloud::NodePointer root) {
            deleteFiledNode(data, cloud, contact, root, contact->getFilesystem());
        });
    });
}

void ManageContactsAction::createContact(const ActionRecord& data) {
    Cloud* cloud = manager_->getCloud();
    if (cloud == nullptr) {
        endUnavailable(data);
        return;
    }
    std::shared_ptr<NodeData> root = cloud->getRoot(CONTACTS_ROOT);
    if (!root) {
        CLOG_WARN("No contacts root to add a contact to");
        endWithError(data, Error(NOT_FOUND));
        return;
    }
    const uint64_t rootId = root->getId();
    cloud->getChildren(
        rootId,
        [this, cloud, data, rootId](Cloud::NodeListPointer children) {
            const uint64_t account = data->getAccountHandle();
            if (auto existing =
                    findChild(children, [account](const NodeData& n) { return n.getContactHandle() == account; })) {
                data->setNode(existing);
                endWithError(data, Error(ALREADY_EXISTS));
                return;
            }
            auto contact = std::make_shared<MutableNodeData>();
            contact->setType(CONTACT_NODE);
            contact->setParent(rootId);
            contact->setName(data->getName());
            contact->setExtraNumber(account);
            addFiledNode(data, cloud, contact);
        },
        0);
}

void ManageOutboxesAction::process(const ActionRecord& data) {
    withCachedNode(data, data->getNodeHandle(), [this, data](Cloud* cloud, Cloud::NodePointer node) {
        if (isNonEmpty(data->getLink())) {
            if (node->getType() != CONTACT_NODE) {
                endWithError(data, Error(WRONG_PARAMETERS));
                return;
            }
            createOutbox(data, cloud, node);
            return;
        }
        if (node->getType() != OUTBOX_NODE) {
            endWithError(data, Error(WRONG_PARAMETERS));
            return;
        }
        if (isNonEmpty(data->getName())) {
            renameFiledNode(data, cloud, node);
            return;
        }
        withCachedNode(data, node->getParent(), [this, data, node](Cloud* cloud, Cloud::NodePointer contact) {
            deleteFiledNode(data, cloud, node, contact, 0);
        });
    });
}

void ManageOutboxesAction::createOutbox(const ActionRecord& data, Cloud* cloud,
                                        const std::shared_ptr<MutableNodeData>& contact) {
    std::optional<LinkText> link = parseInboxLink(data->getLinkString());
    if (!link) {
        endWithError(data, Error(WRONG_PARAMETERS));
        return;
    }
    const uint64_t contactId = contact->getId();
    cloud->getChildren(
        contactId,
        [this, cloud, data, contactId, link](Cloud::NodeListPointer children) {
            // The same inbox reached by the same link, whatever address stands before its path.
            if (auto existing = findChild(children, [&link](const NodeData& n) {
                    return n.getType() == OUTBOX_NODE && sameBytes(n.getExtraData(), link->id) &&
                           sameBytes(n.getInboxKey(), link->key);
                })) {
                data->setNode(existing);
                endWithError(data, Error(ALREADY_EXISTS));
                return;
            }
            auto outbox = std::make_shared<MutableNodeData>();
            outbox->setType(OUTBOX_NODE);
            outbox->setParent(contactId);
            outbox->setName(data->getName());
            outbox->setExtraData(&link->id);
            if (!link->key.empty()) {
                outbox->setInboxKey(link->key);
            }
            addFiledNode(data, cloud, outbox);
        },
        0);
}

void ManageSentRecordsAction::process(const ActionRecord& data) {
    withCachedNode(data, data->getNodeHandle(), [this, data](Cloud* cloud, Cloud::NodePointer outbox) {
        if (outbox->getType() != OUTBOX_NODE) {
            endWithError(data, Error(WRONG_PARAMETERS));
            return;
        }
        std::optional<LinkText> link = parseRecordLink(data->getLinkString());
        if (!link) {
            endWithError(data, Error(WRONG_PARAMETERS));
            return;
        }
        const uint64_t outboxId = outbox->getId();
        cloud->getChildren(
            outboxId,
            [this, cloud, data, outboxId, link](Cloud::NodeListPointer children) {
                // A record is filed once, however often its link is handed in.
                if (auto existing = findChild(children, [&link](const NodeData& n) {
                        return n.getType() == RECORD_NODE && sameBytes(n.getPublicHandle(), link->id);
                    })) {
                    data->setNode(existing);
                    endWithError(data, Error(ALREADY_EXISTS));
                    return;
                }
                auto record = std::make_shared<MutableNodeData>();
                record->setType(RECORD_NODE);
                record->setParent(outboxId);
                record->setKey(&link->key);
                record->setPublicHandle(&link->id);
                addFiledNode(data, cloud, record);
            },
            0);
    });
}

bool CreateInboxAction::validate(const ActionRecord& data) {
    return isSet(data->getName());
}

bool SetInboxInfoAction::validate(const ActionRecord& data) {
    return data->getNodeHandle() != 0 && isSet(data->getName());
}

bool GetInboxInfoAction::validate(const ActionRecord& data) {
    return isSet(data->getLink());
}

bool UploadToRecordAction::validate(const ActionRecord& data) {
    return isSet(data->getName());
}

bool RemoveFromRecordAction::validate(const ActionRecord& data) {
    return data->getNodeHandle() != 0;
}

bool GetRecordInfoAction::validate(const ActionRecord& data) {
    return isSet(data->getLink());
}

bool SetRecordStatusAction::validate(const ActionRecord& data) {
    return data->getNodeHandle() != 0 && (data->getOption() == 0 || data->getOption() == 1);
}

bool LoginLinkAction::validate(const ActionRecord& data) {
    return isSet(data->getLink());
}

// --- owner's side ---

void CreateInboxAction::process(const ActionRecord& data) {
    Cloud* cloud = manager_->getCloud();
    if (cloud == nullptr) {
        endUnavailable(data);
        return;
    }
    auto registerRoot = cloud->getRoot(REGISTER_ROOT);
    if (!registerRoot) {
        endWithError(data, Error(NOT_FOUND));
        return;
    }
    data->setParentHandle(registerRoot->getId());
    auto inbox = std::make_shared<MutableNodeData>();
    inbox->setType(INBOX_NODE);
    inbox->setName(data->getName());
    inbox->setParent(registerRoot->getId());
    if (data->getText() != nullptr) {
        inbox->setInboxMessage(data->getText());
    }
    auto nodes = std::make_shared<NodeList>();
    nodes->push_back(inbox);
    data->setNodes(nodes);
    addSealedNodes(data, cloud, nodes);
}

void SetInboxInfoAction::process(const ActionRecord& data) {
    withCachedNode(data, data->getNodeHandle(), [this, data](Cloud* cloud, Cloud::NodePointer node) {
        if (node->getType() != INBOX_NODE) {
            endWithError(data, Error(WRONG_PARAMETERS));
            return;
        }
        auto copy = std::make_shared<MutableNodeData>(*node);
        copy->setName(data->getName());
        if (data->getText() != nullptr) {
            copy->setInboxMessage(data->getText());
        }
        cloud->encryptNode(copy, [this, data, copy](Cloud::EncryptedNodePointer sealed) {
            sendRename(data, copy, sealed, std::nullopt);
        });
    });
}

void SetRecordStatusAction::process(const ActionRecord& data) {
    withCachedNode(data, data->getNodeHandle(), [this, data](Cloud*, Cloud::NodePointer node) {
        if (node->getType() != RECORD_NODE) {
            endWithError(data, Error(WRONG_PARAMETERS));
            return;
        }
        // The status travels as the extra number alone: no attributes go with it.
        data->setAttributes(nullptr);
        notifyProcessed(data);
        manager_->enqueueApiRequest(std::make_shared<RenameNodeRequest>(data, manager_->getClientId()), this);
    });
}

// --- sender's side ---

void GetInboxInfoAction::process(const ActionRecord& data) {
    auto link = parseInboxLink(data->getLinkString());
    if (!link) {
        endWithError(data, Error(WRONG_PARAMETERS));
        return;
    }
    data->setPublicKey(copyOf(link->id));
    if (!link->key.empty()) {
        data->setKey(&link->key);
    }
    data->setOption(INBOX_NODE);
    notifyProcessed(data);
    manager_->enqueueApiRequest(std::make_shared<DownloadRequest>(data), this);
}

void GetInboxInfoAction::finished(std::shared_ptr<Request> request) {
    ActionRecord data = request->getActionData();
    if (!data) {
        return;
    }
    if (data->getErrorCode() != 0) {
        notifyFinish(data);
        return;
    }
    auto inbox = std::make_shared<MutableNodeData>();
    inbox->setId(data->getNodeHandle());
    inbox->setType(INBOX_NODE);
    inbox->setSize(data->getSize());
    auto remember = [this, data, inbox]() {
        manager_->getInboxLinks()[data->getLinkString()] = data;
        data->setNode(inbox);
        notifyFinish(data);
    };
    if (data->getKey() == nullptr) {
        remember();
        return;
    }
    inbox->setKey(data->getKey());
    Cloud* cloud = manager_->getCloud();
    if (cloud == nullptr) {
        data->setError(Error(UNKNOWN_ERROR));
        notifyFinish(data);
        return;
    }
    cloud->decryptAttributes(data->getCrypto(), data->getAttributes(), inbox, [this, data, remember](bool ok) {
        if (!ok) {
            data->setError(Error(CRYPTOGRAPHIC_ERROR));
            notifyFinish(data);
            return;
        }
        remember();
    });
}

void GetRecordInfoAction::process(const ActionRecord& data) {
    const std::string text = data->getLinkString();
    auto link = parseRecordLink(text);
    if (!link) {
        endWithError(data, Error(WRONG_PARAMETERS));
        return;
    }
    const size_t at = text.find("/record/") + std::string("/record/").size();
    data->setText(text.substr(at, text.find('#', at) - at).c_str());
    data->setPublicKey(copyOf(link->id));
    data->setKey(&link->key);
    data->setOption(RECORD_NODE);
    notifyProcessed(data);
    manager_->enqueueApiRequest(std::make_shared<RecordInfoRequest>(data), this);
}

void SetRecordInfoAction::process(const ActionRecord& data) {
    Cloud* cloud = manager_->getCloud();
    Error error;
    auto record = sessionRecord(manager_, cloud, &error);
    if (!record) {
        endWithError(data, error);
        return;
    }
    auto copy = std::make_shared<MutableNodeData>(*record);
    if (data->getEmail() != nullptr) {
        copy->setContactInfo(data->getEmail());
    }
    if (data->getName() != nullptr) {
        copy->setName(data->getName());
    }
    if (data->getText() != nullptr) {
        copy->setRecordMessage(data->getText());
    }
    if (data->getExtraText() != nullptr) {
        copy->setTarget(data->getExtraText());
    }
    // The sender holds only the owner's public key, and the owner may already have rewritten
    // the record's key to its own scheme: the copy is sealed in the record scheme whatever the
    // cache says (only its attributes are sent, under the record's unchanged key).
    copy->setCrypto(kRecordCrypto);
    data->setOption(RECORD_NODE);
    data->setNodeHandle(record->getId());
    const std::vector<uint8_t> userKey = manager_->getUserKey();
    cloud->encryptPublicNode(copy, userKey, nullptr, [this, data, copy](Cloud::EncryptedNodePointer sealed) {
        sendRename(data, copy, sealed, std::nullopt);
    });
}

void UploadToRecordAction::process(const ActionRecord& data) {
    TransferManager* transfers = manager_->getTransferManager();
    FilesystemModule* filesystem = manager_->getFilesystem();
    if (transfers == nullptr || filesystem == nullptr) {
        endUnavailable(data);
        return;
    }
    Error error;
    auto record = sessionRecord(manager_, manager_->getCloud(), &error);
    if (!record) {
        endWithError(data, error);
        return;
    }
    data->setParentHandle(record->getId());
    // The path is the sender's own text: it is only handed to the file system as it stands.
    filesystem->stat(data->getNameString(), [this, data, transfers](int type, uint64_t, uint64_t size, bool ok) {
        if (!ok) {
            endWithError(data, Error(IO_ERROR));
            return;
        }
        if (type != kRegularFile) {
            endWithError(data, Error(WRONG_PARAMETERS));
            return;
        }
        data->setSize(size);
        data->setOption(FILE_NODE);
        notifyProcessed(data);
        transfers->processTransferAction(data, this);
    });
}

void RemoveFromRecordAction::process(const ActionRecord& data) {
    Cloud* cloud = manager_->getCloud();
    Error error;
    auto record = sessionRecord(manager_, cloud, &error);
    if (!record) {
        endWithError(data, error);
        return;
    }
    withCachedNode(data, data->getNodeHandle(), [this, data, record](Cloud* cloud, Cloud::NodePointer node) {
        data->setNode(node);
        if (node->isRoot()) {
            endWithError(data, Error(FORBIDDEN));
            return;
        }
        cloud->encryptChildKey(node, record, [this, data](uint64_t filesystem, std::shared_ptr<ByteVector> key) {
            if (!key) {
                CLOG_ERROR("Unable to encrypt child key");
                endWithError(data, Error(CRYPTOGRAPHIC_ERROR));
                return;
            }
            data->setNumber(filesystem);
            data->setUserKey(new ByteVector(std::move(*key)));
            notifyProcessed(data);
            manager_->enqueueApiRequest(std::make_shared<DeleteNodeRequest>(data, manager_->getClientId()), this);
        });
    });
}

// --- link sessions ---

void LoginLinkAction::process(const ActionRecord& data) {
    const std::string text = data->getLinkString();
    auto link = parseSessionLink(text);
    if (!link) {
        endWithError(data, Error(WRONG_PARAMETERS));
        return;
    }
    data->setNumber(link->number);
    data->setAuthKey(copyOf(link->id));
    if (link->number != INBOX_NODE) {
        data->setLinkAuth(copyOf(link->key));
        if (link->number == FOLDER_NODE || link->number == SHARED_DRIVE_ROOT) {
            data->setKey(&link->key);
        }
        notifyProcessed(data);
        manager_->enqueueApiRequest(std::make_shared<LoginLinkRequest>(data), this);
        return;
    }
    auto& table = manager_->getInboxLinks();
    auto entry = table.find(text);
    Cloud* cloud = manager_->getCloud();
    if (entry == table.end() || cloud == nullptr) {
        endWithError(data, Error(NOT_FOUND));
        return;
    }
    const ByteVector* publicKey = entry->second->getPublicKey();
    const ByteVector key = publicKey != nullptr ? *publicKey : ByteVector();
    data->setKey(&key);
    auto record = std::make_shared<MutableNodeData>();
    record->setType(RECORD_NODE);
    record->setName("");
    auto inbox = entry->second->getNode();
    record->setTarget(inbox && inbox->getKey() != nullptr ? inbox->getName() : "");
    record->setCrypto(kRecordCrypto);
    cloud->encryptPublicNode(record, key, nullptr, [this, data](Cloud::EncryptedNodePointer sealed) {
        if (!sealed || sealed->getKey() == nullptr || sealed->getEncryptedChildKey() == nullptr ||
            sealed->getEncryptedAttributes() == nullptr) {
            endWithError(data, Error(CRYPTOGRAPHIC_ERROR));
            return;
        }
        data->setCrypto(sealed->getCrypto());
        data->setLinkAuth(new ByteVector(*sealed->getKey()));
        data->setUserKey(new ByteVector(*sealed->getEncryptedChildKey()));
        data->setAttributes(new ByteVector(*sealed->getEncryptedAttributes()));
        notifyProcessed(data);
        manager_->enqueueApiRequest(std::make_shared<LoginLinkRequest>(data), this);
    });
}

void LogoutLinkAction::process(const ActionRecord& data) {
    if (!manager_->getEmail().empty()) {
        endWithError(data, Error(FORBIDDEN));
        return;
    }
    if (data->getOption() == kOfflineLogout) {
        // Nothing goes to the service: the session ends here alone.
        notifyProcessed(data);
        manager_->logout([this, data]() { notifyFinish(data); });
        return;
    }
    Cloud* cloud = manager_->getCloud();
    auto record = cloud != nullptr ? cloud->getMainRoot() : nullptr;
    if (!record || record->getType() != RECORD_NODE) {
        endWithError(data, Error(NOT_FOUND));
        return;
    }
    data->setName(record->getName());
    data->setNode(record);
    cloud->getChildren(
        record->getId(),
        [this, data](Cloud::NodeListPointer children) {
            data->setNodes(children ? children : std::make_shared<NodeList>());
            notifyProcessed(data);
            manager_->enqueueApiRequest(std::make_shared<LogoutLinkRequest>(data, manager_->getClientId()), this);
        },
        0);
}

}  // namespace corvane
