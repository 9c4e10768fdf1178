#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "corvane/action_listener.h"
#include "corvane/mutable_action_data.h"

namespace corvane {
namespace {

// The transfer record is opaque here: each stand-in shares ownership of an int and points at
// it, so the pointer identifies the value it carries without being dereferenced as a record.
std::shared_ptr<TransferData> makeTransfer(int tag) {
    auto owner = std::make_shared<int>(tag);
    return std::shared_ptr<TransferData>(owner, reinterpret_cast<TransferData*>(owner.get()));
}

int tagOf(const std::shared_ptr<TransferData>& transfer) {
    return *reinterpret_cast<const int*>(transfer.get());
}

using VectorGetter = ByteVector* (MutableActionData::*)() const;
using VectorSetter = void (MutableActionData::*)(ByteVector*);

const std::vector<std::pair<VectorSetter, VectorGetter>>& ownedVectorFields() {
    static const std::vector<std::pair<VectorSetter, VectorGetter>> fields = {
        {&MutableActionData::setLinkAuth, &MutableActionData::getLinkAuth},
        {&MutableActionData::setUserKey, &MutableActionData::getUserKey},
        {&MutableActionData::setAccountKey, &MutableActionData::getAccountKey},
        {&MutableActionData::setAttributes, &MutableActionData::getAttributes},
        {&MutableActionData::setUserPrivateKey, &MutableActionData::getUserPrivateKey},
        {&MutableActionData::setExtraKey, &MutableActionData::getExtraKey},
        {&MutableActionData::setAccountFingerprintKey, &MutableActionData::getAccountFingerprintKey},
        {&MutableActionData::setPrivateKey, &MutableActionData::getPrivateKey},
        {&MutableActionData::setAccountPrivateKey, &MutableActionData::getAccountPrivateKey},
        {&MutableActionData::setFingerprintKey, &MutableActionData::getFingerprintKey},
        {&MutableActionData::setPublicKey, &MutableActionData::getPublicKey},
        {&MutableActionData::setAccountPublicKey, &MutableActionData::getAccountPublicKey},
        {&MutableActionData::setPasswordKey, &MutableActionData::getPasswordKey},
        {&MutableActionData::setAuthKey, &MutableActionData::getAuthKey},
        {&MutableActionData::setMetadata, &MutableActionData::getMetadata},
    };
    return fields;
}

TEST(MutableActionDataTest, NewRecordHasNothingSet) {
    MutableActionData action(UPLOAD);
    EXPECT_EQ(action.getKey(), nullptr);
    for (const auto& field : ownedVectorFields()) {
        EXPECT_EQ((action.*field.second)(), nullptr);
    }
    EXPECT_EQ(action.getNumber(), 0u);
    EXPECT_EQ(action.getOffset(), 0u);
    EXPECT_EQ(action.getSize(), 0u);
    EXPECT_EQ(action.getCrypto(), 0u);
    EXPECT_EQ(action.getTransferListener(), nullptr);
    EXPECT_EQ(action.getExtraListener(), nullptr);
}

TEST(MutableActionDataTest, SetKeyCopiesAndLeavesTheCallersVector) {
    MutableActionData action(DOWNLOAD);
    ByteVector key = {1, 2, 3};
    action.setKey(&key);
    ASSERT_NE(action.getKey(), nullptr);
    EXPECT_NE(action.getKey(), &key);
    key[0] = 9;
    EXPECT_EQ(*action.getKey(), (ByteVector{1, 2, 3}));
    action.setKey(nullptr);
    EXPECT_EQ(action.getKey(), nullptr);
    EXPECT_EQ(key, (ByteVector{9, 2, 3}));
}

TEST(MutableActionDataTest, OwnedVectorsAreTakenOverAndReplaced) {
    // Under the leak checker this also shows that replaced and remaining vectors are freed.
    MutableActionData action(LOGIN);
    for (const auto& field : ownedVectorFields()) {
        ByteVector* first = new ByteVector{1};
        (action.*field.first)(first);
        EXPECT_EQ((action.*field.second)(), first);
        ByteVector* second = new ByteVector{2};
        (action.*field.first)(second);
        EXPECT_EQ((action.*field.second)(), second);
    }
    action.setAuthKey(nullptr);
    EXPECT_EQ(action.getAuthKey(), nullptr);
}

struct HandleCase {
    const char* name;
    uint64_t handle;
    const char* text;
};

TEST(MutableActionDataTest, HandleSettersStoreTheirText) {
    const std::vector<HandleCase> cases = {
        {"one", 1, "AQAAAAAA"},
        {"zero", 0, "AAAAAAAA"},
        {"six bytes", 0xFFFFFFFFFFFFull, "________"},
    };
    for (const HandleCase& c : cases) {
        SCOPED_TRACE(c.name);
        MutableActionData action(GET_NODE);
        action.setNodeHandle(c.handle);
        action.setParentHandle(c.handle);
        action.setAccountHandle(c.handle);
        action.setUserHandle(c.handle);
        EXPECT_EQ(action.getNodeHandle(), c.handle);
        EXPECT_EQ(action.getNodeHandleText(), c.text);
        EXPECT_EQ(action.getParentHandleText(), c.text);
        EXPECT_EQ(action.getAccountHandleText(), c.text);
        EXPECT_EQ(action.getUserHandleText(), c.text);
    }
}

TEST(MutableActionDataTest, HandleFromText) {
    MutableActionData action(GET_NODE);
    action.setNodeHandleText("AQAAAAAA");
    EXPECT_EQ(action.getNodeHandle(), 1u);
    EXPECT_EQ(action.getNodeHandleText(), "AQAAAAAA");
    action.setAccountHandleText("________");
    EXPECT_EQ(action.getAccountHandle(), 0xFFFFFFFFFFFFull);
}

// A text names exactly one handle: what an earlier handle held beyond the decoded bytes
// must not survive into the new one.
TEST(MutableActionDataTest, HandleFromTextReplacesTheWholeHandle) {
    MutableActionData action(GET_NODE);
    action.setNodeHandle(0xFFFFFFFFFFFFFFFFull);
    action.setNodeHandleText("AQAAAAAA");
    EXPECT_EQ(action.getNodeHandle(), 1u);

    action.setAccountHandle(0xFFFFFFFFFFFFFFFFull);
    action.setAccountHandleText("AQ");
    EXPECT_EQ(action.getAccountHandle(), 1u);
}

TEST(MutableActionDataTest, FlagsAndValues) {
    MutableActionData action(UPLOAD);
    action.setId(5);
    action.setSequenceId(6);
    action.setOption(20);
    action.setFlags(3);
    action.setValue(-1);
    action.setTotalSize(1ull << 40);
    action.setCurrentSize(10);
    action.setNumber(7);
    action.setOffset(1ull << 33);
    action.setSize(99);
    action.setCrypto(2);
    action.setProcessed();
    action.setFinished();
    EXPECT_EQ(action.getId(), 5);
    EXPECT_EQ(action.getSequenceId(), 6);
    EXPECT_EQ(action.getOption(), 20);
    EXPECT_EQ(action.getFlags(), 3);
    EXPECT_EQ(action.getValue(), -1);
    EXPECT_EQ(action.getTotalSize(), 1ull << 40);
    EXPECT_EQ(action.getCurrentSize(), 10u);
    EXPECT_EQ(action.getNumber(), 7u);
    EXPECT_EQ(action.getOffset(), 1ull << 33);
    EXPECT_EQ(action.getSize(), 99u);
    EXPECT_EQ(action.getCrypto(), 2u);
    EXPECT_TRUE(action.isProcessed());
    EXPECT_TRUE(action.isFinished());
}

TEST(MutableActionDataTest, ListenersAreNotOwned) {
    ActionListener transferListener;
    ActionListener extraListener;
    {
        MutableActionData action(BACKUP);
        action.setTransferListener(&transferListener);
        action.setExtraListener(&extraListener);
        EXPECT_EQ(action.getTransferListener(), &transferListener);
        EXPECT_EQ(action.getExtraListener(), &extraListener);
    }
    // Both listeners outlive the record untouched (a double free would show here).
    transferListener.onActionFinish(nullptr);
}

TEST(MutableActionDataTest, TransferIsSwappedAtomicallyAcrossThreads) {
    auto action = std::make_shared<MutableActionData>(DOWNLOAD);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; i < 2000; ++i) {
            action->setTransfer(makeTransfer(i));
        }
        stop = true;
    });
    int seen = 0;
    while (!stop) {
        std::shared_ptr<TransferData> transfer = action->getTransfer();
        if (transfer) {
            EXPECT_GE(tagOf(transfer), 0);
            ++seen;
        }
    }
    writer.join();
    ASSERT_NE(action->getTransfer(), nullptr);
    EXPECT_EQ(tagOf(action->getTransfer()), 1999);
    (void)seen;
}

}  // namespace
}  // namespace corvane
