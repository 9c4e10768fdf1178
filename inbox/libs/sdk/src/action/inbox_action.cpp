#include "action/inbox_action.h"

#include <functional>
#include <optional>
#include <string>

#include "action/contact_link.h"
#include "api/api_manager.h"
#include "cloud/cloud.h"
#include "corvane/node_data.h"
#include "corvane/node_type.h"
#include "database/mutable_node_data.h"
#include "request/account_settings_request.h"
#include "request/cloud_request.h"
#include "util/log.h"

namespace corvane {

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
    auto nodes = std::make_shared<NodeList>(NodeList{node});
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
        if (!sealed || sealed->getEncryptedAttributes() == nullptr) {
            endWithError(data, Error(CRYPTOGRAPHIC_ERROR));
            return;
        }
        data->setAttributes(new ByteVector(*sealed->getEncryptedAttributes()));
        data->setNode(copy);
        notifyProcessed(data);
        // The service stores the extra number a rename carries and the cache takes the one it
        // answers: without the node's own, a contact would lose the account it stands for.
        manager_->enqueueApiRequest(
            std::make_shared<RenameNodeRequest>(data, manager_->getClientId(), copy->getExtraNumber()), this);
    });
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
    std::optional<InboxLinkParts> link = parseInboxLink(data->getLink());
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
                    return n.getType() == OUTBOX_NODE && sameBytes(n.getExtraData(), link->identifier) &&
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
            outbox->setExtraData(&link->identifier);
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
        std::optional<RecordLinkParts> link = parseRecordLink(data->getLink());
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
                        return n.getType() == RECORD_NODE && sameBytes(n.getPublicHandle(), link->publicHandle);
                    })) {
                    data->setNode(existing);
                    endWithError(data, Error(ALREADY_EXISTS));
                    return;
                }
                auto record = std::make_shared<MutableNodeData>();
                record->setType(RECORD_NODE);
                record->setParent(outboxId);
                record->setKey(&link->key);
                record->setPublicHandle(&link->publicHandle);
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

}  // namespace corvane
