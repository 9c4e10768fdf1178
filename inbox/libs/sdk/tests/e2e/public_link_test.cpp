// Public links through facades against the loopback stand-in over TLS: an account publishes a
// file, a folder (through its public copy), an inbox, its register root and a shared-drive
// root; a facade with no account opens and downloads by the links; withdrawn links answer 1,
// and malformed link texts end with 5 or 1.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "account_directory.h"
#include "cloud/cloud.h"
#include "corvane/action_types.h"
#include "corvane/handle.h"
#include "corvane/node_data.h"
#include "corvane/node_type.h"
#include "database/mutable_node_data.h"
#include "request/transfer_request.h"
#include "support/account_keys.h"
#include "support/facade_fixture.h"
#include "support/request_test_support.h"
#include "support/run_on_loop.h"

namespace corvane {
namespace {

constexpr const char* kEmail = "ada@example.com";
constexpr const char* kPassword = "correct horse battery";
constexpr int32_t kRegisterRootIndex = 3;
constexpr int32_t kSharedFoldersRootIndex = 4;
constexpr uint64_t kSharedDriveNumber = 2;

// What an action left when it finished.
struct LinkOutcome {
    bool finished = false;
    int32_t error = -1;
    std::string link;
    std::string name;
    int32_t option = 0;
    uint64_t node = 0;
    uint64_t parent = 0;
    int32_t nodeType = -1;
    std::string nodeName;
};

class LinkListener : public ActionListener {
public:
    void onActionFinish(std::shared_ptr<ActionData> action) override {
        std::lock_guard<std::mutex> lock(mutex_);
        outcome_.finished = true;
        outcome_.error = action->getErrorCode();
        outcome_.link = action->getLinkString();
        outcome_.name = action->getNameString();
        outcome_.option = action->getOption();
        if (auto node = action->getNode()) {
            outcome_.node = node->getId();
            outcome_.parent = node->getParent();
            outcome_.nodeType = node->getType();
            outcome_.nodeName = node->getNameString();
        }
        changed_.notify_all();
    }

    LinkOutcome wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(120), [&] { return outcome_.finished; });
        return outcome_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    LinkOutcome outcome_;
};

std::vector<char> patternBytes(size_t size, uint32_t seed) {
    std::vector<char> bytes(size);
    uint32_t x = seed * 2654435761u + 7;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        bytes[i] = static_cast<char>(x >> 24);
    }
    return bytes;
}

void writeFile(const std::string& path, const std::vector<char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<char> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The path part of a link (what follows the web address).
std::string pathOf(const std::string& link) {
    const std::string address = getDeployment().webAddress;
    return link.rfind(address, 0) == 0 ? link.substr(address.size()) : link;
}

class PublicLinkTest : public test::FacadeFixture {
protected:
    void SetUp() override {
        FacadeFixture::SetUp();
        // Chunk links are fetched with the stand-in's certificate as a CA.
        facade_.reset();
        deployment_.reset();
        deployment_ = std::make_unique<test::StandInDeployment>(service_, test::StandInDeployment::Trust::CaFile);
        facade_ = std::make_unique<Corvane>(&taskManager_, &settings_);
        ASSERT_EQ(registerUser(kEmail, kPassword).error, 0);
        account_ = service_.accounts().userByEmail(kEmail)->mainAccount;
        ASSERT_EQ(run(GET_NODES, [](MutableActionData&) {}).error, 0);
        mainRoot_ = root(0);
        ASSERT_NE(mainRoot_, 0u);

        anonymousSettings_.setDataPath(anonymousDir_.path());
        anonymous_ = std::make_unique<Corvane>(&taskManager_, &anonymousSettings_);
    }

    void TearDown() override {
        anonymous_.reset();
        FacadeFixture::TearDown();
    }

    LinkOutcome act(Corvane& facade, int32_t type, const Fill& fill) {
        LinkListener listener;
        test::FacadeAccess::submit(facade, type, &listener, fill);
        LinkOutcome outcome = listener.wait();
        taskManager_.drain();
        EXPECT_TRUE(outcome.finished) << getActionTypeName(type) << " never finished";
        return outcome;
    }

    uint64_t root(int32_t index) {
        return act(*facade_, GET_ROOT, [index](MutableActionData& a) { a.setOption(index); }).node;
    }

    std::string path(const std::string& name) const { return dataDir_.path() + "/" + name; }

    uint64_t upload(const std::string& name, const std::vector<char>& bytes, uint64_t parent) {
        writeFile(path(name), bytes);
        const LinkOutcome outcome = act(*facade_, UPLOAD, [&](MutableActionData& a) {
            a.setName(path(name).c_str());
            a.setParentHandle(parent);
        });
        EXPECT_EQ(outcome.error, 0) << name;
        return outcome.node;
    }

    uint64_t addNode(uint64_t parent, int32_t type, const std::string& name) {
        auto node = std::make_shared<MutableNodeData>();
        node->setType(type);
        node->setName(name.c_str());
        auto list = std::make_shared<NodeList>(NodeList{node});
        const LinkOutcome outcome = act(*facade_, ADD_NODES, [&](MutableActionData& a) {
            a.setParentHandle(parent);
            a.setNodes(list);
        });
        EXPECT_EQ(outcome.error, 0) << name;
        return outcome.node;
    }

    // CREATE_LINK through the facade's two-step share, which loads the tree first.
    LinkOutcome share(uint64_t node) {
        LinkListener listener;
        facade_->shareNode(node, &listener);
        LinkOutcome outcome = listener.wait();
        taskManager_.drain();
        return outcome;
    }

    LinkOutcome linkInfo(const std::string& link) {
        return act(*anonymous_, GET_LINK_INFO, [&](MutableActionData& a) { a.setLink(link.c_str()); });
    }

    int32_t deleteLink(const std::string& link) {
        return act(*facade_, DELETE_LINK, [&](MutableActionData& a) { a.setLink(link.c_str()); }).error;
    }

    // The stored node's public handle, or nothing.
    std::optional<std::string> storedHandle(uint64_t node) {
        auto stored = service_.accounts().node(account_, node);
        return stored ? stored->pubhandle : std::nullopt;
    }

    uint64_t account_ = 0;
    uint64_t mainRoot_ = 0;
    test::CloudTempDir anonymousDir_;
    CorvaneSettings anonymousSettings_;
    std::unique_ptr<Corvane> anonymous_;
};

bool isBase64UrlText(const std::string& text) {
    return text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_") ==
           std::string::npos;
}

// Whether the path is the word, 22 characters of handle and, unless keyLength is 0, "#" and a
// key of that many characters (-1: any).
bool hasLinkForm(const std::string& path, const std::string& word, int keyLength) {
    if (path.rfind(word, 0) != 0) {
        return false;
    }
    const std::string rest = path.substr(word.size());
    const std::string handle = rest.substr(0, 22);
    if (handle.size() != 22 || !isBase64UrlText(handle)) {
        return false;
    }
    if (keyLength == 0) {
        return rest.size() == 22;
    }
    if (rest.size() < 23 || rest[22] != '#') {
        return false;
    }
    const std::string key = rest.substr(23);
    return isBase64UrlText(key) && (keyLength < 0 || key.size() == static_cast<size_t>(keyLength));
}

TEST_F(PublicLinkTest, FileLinkOpensAndDownloadsWithoutAnAccountUntilDeleted) {
    const std::vector<char> content = patternBytes(300000, 1);
    const uint64_t file = upload("report.pdf", content, mainRoot_);
    ASSERT_NE(file, 0u);

    const LinkOutcome created = share(file);
    ASSERT_EQ(created.error, 0);
    EXPECT_EQ(created.option, FILE_NODE);
    EXPECT_EQ(created.node, file);
    const std::string link = created.link;
    EXPECT_TRUE(hasLinkForm(pathOf(link), "/file/", 43)) << link;
    EXPECT_EQ(link.find('='), std::string::npos);
    // Publishing again hands out the same link.
    EXPECT_EQ(share(file).link, link);

    const LinkOutcome info = linkInfo(link);
    ASSERT_EQ(info.error, 0);
    EXPECT_EQ(info.name, "report.pdf");
    EXPECT_EQ(info.nodeType, FILE_NODE);
    EXPECT_EQ(info.nodeName, "report.pdf");

    const std::string target = anonymousDir_.path() + "/fetched.pdf";
    const LinkOutcome fetched = act(*anonymous_, DOWNLOAD, [&](MutableActionData& a) {
        a.setLink(link.c_str());
        a.setName(target.c_str());
    });
    ASSERT_EQ(fetched.error, 0);
    EXPECT_EQ(readFile(target), content);

    EXPECT_EQ(deleteLink(link), 0);
    EXPECT_FALSE(storedHandle(file).has_value());
    EXPECT_EQ(linkInfo(link).error, NOT_FOUND);
    EXPECT_EQ(deleteLink(link), NOT_FOUND);
}

TEST_F(PublicLinkTest, FolderIsPublishedAsACopyUnderTheSharedFolders) {
    const uint64_t folder = addNode(mainRoot_, FOLDER_NODE, "Quarterly");
    ASSERT_NE(folder, 0u);
    const std::vector<char> content = patternBytes(70000, 2);
    ASSERT_NE(upload("figures.csv", content, folder), 0u);
    const uint64_t sharedFolders = root(kSharedFoldersRootIndex);
    ASSERT_NE(sharedFolders, 0u);

    const LinkOutcome created = share(folder);
    ASSERT_EQ(created.error, 0);
    EXPECT_EQ(created.option, FOLDER_NODE);
    EXPECT_TRUE(hasLinkForm(pathOf(created.link), "/folder/", 43)) << created.link;
    // The link names the copy, not the folder.
    EXPECT_NE(created.node, folder);
    EXPECT_EQ(created.nodeType, LINK_COPY_NODE);
    EXPECT_EQ(created.parent, sharedFolders);
    EXPECT_TRUE(storedHandle(created.node).has_value());
    EXPECT_FALSE(storedHandle(folder).has_value());
    size_t copies = 0;
    for (const auto& stored : service_.accounts().nodes(account_)) {
        copies += stored.parent == created.node ? 1 : 0;
    }
    EXPECT_EQ(copies, 1u);

    const LinkOutcome info = linkInfo(created.link);
    ASSERT_EQ(info.error, 0);
    EXPECT_EQ(info.nodeType, LINK_COPY_NODE);
    EXPECT_EQ(info.name, "Quarterly");

    EXPECT_EQ(deleteLink(created.link), 0);
    EXPECT_EQ(linkInfo(created.link).error, NOT_FOUND);
}

TEST_F(PublicLinkTest, InboxAndRegisterRootLinks) {
    const uint64_t registerRoot = root(kRegisterRootIndex);
    ASSERT_NE(registerRoot, 0u);
    const uint64_t inbox = addNode(registerRoot, INBOX_NODE, "Applications");
    ASSERT_NE(inbox, 0u);

    const LinkOutcome created = share(inbox);
    ASSERT_EQ(created.error, 0);
    EXPECT_EQ(created.option, INBOX_NODE);
    EXPECT_TRUE(hasLinkForm(pathOf(created.link), "/inbox/", 43)) << created.link;

    // The register root's link has no key.
    LinkListener listener;
    facade_->createLink(&listener);
    const LinkOutcome own = listener.wait();
    taskManager_.drain();
    ASSERT_EQ(own.error, 0);
    EXPECT_EQ(own.node, registerRoot);
    EXPECT_TRUE(hasLinkForm(pathOf(own.link), "/inbox/", 0)) << own.link;

    for (const std::string& link : {created.link, own.link}) {
        SCOPED_TRACE(link);
        EXPECT_EQ(deleteLink(link), 0);
        EXPECT_EQ(deleteLink(link), NOT_FOUND);
    }
    EXPECT_FALSE(storedHandle(inbox).has_value());
    EXPECT_FALSE(storedHandle(registerRoot).has_value());
}

TEST_F(PublicLinkTest, MalformedLinkTextsEndWithFiveOrOne) {
    const uint64_t file = upload("note.txt", patternBytes(1000, 3), mainRoot_);
    const LinkOutcome created = share(file);
    ASSERT_EQ(created.error, 0);
    const std::string path = pathOf(created.link);
    const size_t hash = path.find('#');
    ASSERT_NE(hash, std::string::npos);
    const std::string handle = path.substr(6, hash - 6);
    const std::string key = path.substr(hash + 1);
    const std::string address = getDeployment().webAddress;
    const std::vector<std::pair<const char*, std::string>> cases{
        {"truncated", address + "/file/" + handle.substr(0, 10)},
        {"truncated after the word", address + "/file/"},
        {"extra hash", address + "/file/" + handle + "#" + key + "#"},
        {"21 characters", address + "/file/" + handle.substr(1) + "#" + key},
        {"23 characters", address + "/file/" + handle + "A#" + key},
        {"non-Base64URL", address + "/file/" + handle.substr(1) + "+#" + key},
        {"empty key", address + "/file/" + handle + "#"},
        {"inbox of 21 characters", address + "/inbox/" + handle.substr(1)},
        {"inbox of 23 characters", address + "/inbox/" + handle + "A"},
        {"unknown handle", address + "/folder/" + std::string(22, 'A') + "#" + key},
        {"no path word", address + "/" + handle + "#" + key},
    };
    for (const auto& [name, link] : cases) {
        SCOPED_TRACE(name);
        const int32_t opened = linkInfo(link).error;
        EXPECT_TRUE(opened == WRONG_PARAMETERS || opened == NOT_FOUND) << opened;
        const int32_t deleted = deleteLink(link);
        EXPECT_TRUE(deleted == WRONG_PARAMETERS || deleted == NOT_FOUND) << deleted;
    }
    // None of them touched the link.
    EXPECT_EQ(linkInfo(created.link).error, 0);
}

TEST_F(PublicLinkTest, SharedDriveRootLinkCarriesTheFilesystemKey) {
    SdkApiManager& api = test::FacadeAccess::manager(*facade_);
    const test::signin::KeyBytes userKey = test::runOnLoop(*api.getLoop(), [&] { return api.getUserKey(); });
    ASSERT_EQ(userKey.size(), 32u);
    // A drive of the account as the service keeps it: the filesystem's node key sealed under the
    // user key, the root's key under the filesystem's node key.
    const test::signin::KeyBytes filesystemKey(32, 0x5A);
    const test::signin::KeyBytes rootKey(32, 0x33);
    auto text = [](const test::signin::KeyBytes& bytes) { return std::string(bytes.begin(), bytes.end()); };
    service::NodeRecord root;
    root.type = SHARED_DRIVE_ROOT;
    root.nodekey = text(test::signin::wrapKey(rootKey, filesystemKey));
    service::FilesystemRecord filesystem;
    filesystem.type = SHARED_DRIVE_ROOT;
    filesystem.nodekey = text(test::signin::wrapKey(filesystemKey, userKey));
    const uint64_t drive = service_.accounts().addRoot(account_, root, filesystem);
    ASSERT_NE(drive, 0u);

    // A new session of the account loads the tree with the drive.
    test::CloudTempDir secondDir;
    CorvaneSettings secondSettings;
    secondSettings.setDataPath(secondDir.path());
    auto second = std::make_unique<Corvane>(&taskManager_, &secondSettings);
    ASSERT_EQ(act(*second, LOGIN,
                  [](MutableActionData& a) {
                      a.setEmail(kEmail);
                      a.setPassword(kPassword);
                      a.setValue(-1);
                  })
                  .error,
              0);
    ASSERT_EQ(act(*second, GET_NODES, [](MutableActionData&) {}).error, 0);

    // Number 2 demands a drive root.
    const LinkOutcome refused = act(*second, CREATE_LINK, [&](MutableActionData& a) {
        a.setNodeHandle(mainRoot_);
        a.setNumber(kSharedDriveNumber);
    });
    EXPECT_EQ(refused.error, WRONG_PARAMETERS);
    const LinkOutcome created = act(*second, CREATE_LINK, [&](MutableActionData& a) {
        a.setNodeHandle(drive);
        a.setNumber(kSharedDriveNumber);
    });
    ASSERT_EQ(created.error, 0);
    EXPECT_EQ(created.node, drive);
    const std::string path = pathOf(created.link);
    EXPECT_TRUE(hasLinkForm(path, "/drive/", 43)) << created.link;
    EXPECT_EQ(path.substr(path.find('#') + 1), getBase64UrlText(&filesystemKey));
    const std::optional<std::string> handle = storedHandle(drive);
    ASSERT_TRUE(handle.has_value());

    // The handle opens the drive without a session.
    auto download = [&]() {
        auto data = std::make_shared<MutableActionData>(DOWNLOAD);
        data->setOption(SHARED_DRIVE_ROOT);
        data->setPublicKey(new ByteVector(handle->begin(), handle->end()));
        auto request = std::make_shared<DownloadRequest>(data);
        test::FinishWaiter waiter;
        SdkApiManager& anonymous = test::FacadeAccess::manager(*anonymous_);
        test::runOnLoop(*anonymous.getLoop(), [&] { anonymous.enqueueApiRequest(request, &waiter); });
        EXPECT_TRUE(waiter.wait());
        return data;
    };
    auto opened = download();
    EXPECT_EQ(opened->getErrorCode(), 0);
    EXPECT_EQ(opened->getOption(), SHARED_DRIVE_ROOT);

    EXPECT_EQ(act(*second, DELETE_LINK, [&](MutableActionData& a) { a.setLink(created.link.c_str()); }).error, 0);
    EXPECT_FALSE(storedHandle(drive).has_value());
    EXPECT_EQ(download()->getErrorCode(), NOT_FOUND);
    second.reset();
    taskManager_.drain();
}

}  // namespace
}  // namespace corvane
