#include <gtest/gtest.h>
#include <QSignalSpy>

#include <memory>

#include "corvane/action_types.h"
#include "corvane/mutable_action_data.h"
#include "corvane/node_type.h"
#include "database/mutable_node_data.h"

#include "controller_fixture.h"

namespace {

using corvane::MutableNodeData;

std::shared_ptr<MutableNodeData> node(uint64_t id, int32_t type, uint64_t parent, const char* name) {
    auto made = std::make_shared<MutableNodeData>();
    made->setId(id);
    made->setType(type);
    made->setParent(parent);
    made->setName(name);
    made->setCreationTime(1700000000);
    made->setModificationTime(1700000100);
    return made;
}

// The results of the walk, handed to the controller as the SDK would; the facade's own
// requests go nowhere here.
class TreeWalkTest : public ControllerTest {
protected:
    void SetUp() override {
        ControllerTest::SetUp();
        Tembra& tembra = start();
        tembra.showMainWindow();
        window = tembra.mainWindow();
    }

    void listed(std::shared_ptr<MutableNodeData> parent, std::vector<std::shared_ptr<MutableNodeData>> children) {
        auto action = std::make_shared<corvane::MutableActionData>(corvane::GET_CHILDREN);
        action->setNode(parent);
        auto list = std::make_shared<corvane::NodeList>();
        for (auto& child : children) {
            list->push_back(child);
        }
        action->setNodes(list);
        controller_->onActionFinish(action);
    }

    MainWindow* window = nullptr;
};

TEST_F(TreeWalkTest, InboxesRecordsFilesContactsAndOutboxesLandInTheirLists) {
    QSignalSpy reloads(window, &MainWindow::reloadApplication);
    auto registerRoot = node(1, corvane::REGISTER_ROOT, 0, "");
    auto inbox = node(10, corvane::INBOX_NODE, 1, "Invoices");
    inbox->setInboxMessage("Where suppliers send invoices");
    auto emptyInbox = node(11, corvane::INBOX_NODE, 1, "Empty");
    auto record = node(20, corvane::RECORD_NODE, 10, "March invoice");
    record->setContactInfo("supplier@example.test");
    record->setRecordMessage("Attached.");
    record->setExtraNumber(1);
    auto docRecord = node(21, corvane::RECORD_NODE, 10, "[CVN_DOC] filed");
    auto file = node(30, corvane::FILE_NODE, 20, "invoice.pdf");
    file->setSize(2048);
    auto docFile = node(31, corvane::FILE_NODE, 21, "scan.pdf");

    auto contactsRoot = node(2, corvane::CONTACTS_ROOT, 0, "");
    auto contact = node(40, corvane::CONTACT_NODE, 2, "Bob");
    contact->setExtraNumber(400);
    auto outbox = node(50, corvane::OUTBOX_NODE, 40, "Bob's inbox");
    auto sent = node(60, corvane::RECORD_NODE, 50, "Contract");
    sent->setRecordMessage("Please sign.");

    listed(registerRoot, {inbox, emptyInbox});
    listed(emptyInbox, {});
    listed(inbox, {record, docRecord});
    listed(record, {file});
    listed(docRecord, {docFile});
    listed(contactsRoot, {contact});
    listed(contact, {outbox});
    listed(outbox, {sent});
    listed(sent, {});

    EXPECT_EQ(window->getInboxesCount(), 2);
    EXPECT_EQ(window->getInboxName("10"), "Invoices");
    EXPECT_EQ(window->getInboxDescription("10"), "Where suppliers send invoices");
    EXPECT_EQ(window->getRecordIds(), QStringList{"20"}) << "a document-manager record stays off the list";
    EXPECT_EQ(window->getRecordSubjectById("20"), "March invoice");
    EXPECT_EQ(window->getRecordSenderById("20"), "supplier@example.test");
    EXPECT_EQ(window->getRecordMessageById("20"), "Attached.");
    EXPECT_EQ(window->getRecordStatusById("20"), "1");
    EXPECT_EQ(window->getRecordFileNamesById("20"), QStringList{"invoice.pdf"});
    EXPECT_EQ(window->getRecordFileNamesById("21"), QStringList{"scan.pdf"}) << "its files are kept all the same";
    EXPECT_EQ(window->getContactsIds(), QStringList{"40"});
    EXPECT_EQ(window->getContactsUserIds(), QStringList{"400"});
    EXPECT_EQ(window->getOutboxesIds("40"), QStringList{"50"});
    EXPECT_EQ(window->getSentRecordIds(), QStringList{"60"});
    EXPECT_EQ(window->getSentRecordSubjectById("60"), "Contract");
    EXPECT_EQ(window->getSentRecordReceiverById("60"), "Bob");
    EXPECT_EQ(reloads.size(), 9);
}

TEST_F(TreeWalkTest, RootResultStartsReadingTheTree) {
    auto root = std::make_shared<corvane::MutableActionData>(corvane::GET_ROOT);
    root->setNode(node(1, corvane::REGISTER_ROOT, 0, ""));
    controller_->onActionFinish(root);
    EXPECT_EQ(controller_->pendingOperation(), 10);

    // The first new link becomes the external inbox; a later one is a shared node's.
    auto link = std::make_shared<corvane::MutableActionData>(corvane::CREATE_LINK);
    link->setLink("https://example.test/inbox/AAAA");
    controller_->onActionFinish(link);
    EXPECT_EQ(window->getExternalInbox(), "https://example.test/inbox/AAAA");
    EXPECT_EQ(controller_->pendingOperation(), 0);
    link->setLink("https://example.test/inbox/BBBB");
    controller_->onActionFinish(link);
    EXPECT_EQ(window->getExternalInbox(), "https://example.test/inbox/AAAA");
}

// A root the account lacks answers an empty node: nothing to walk, nothing breaks.
TEST_F(TreeWalkTest, MissingRootIsNotWalked) {
    auto root = std::make_shared<corvane::MutableActionData>(corvane::GET_ROOT);
    controller_->onActionFinish(root);
    EXPECT_EQ(controller_->pendingOperation(), 0);
    auto children = std::make_shared<corvane::MutableActionData>(corvane::GET_CHILDREN);
    controller_->onActionFinish(children);
    EXPECT_EQ(window->getInboxesCount(), 0);
}

}  // namespace
