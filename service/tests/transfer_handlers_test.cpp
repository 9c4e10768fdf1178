#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#include "account_fixture.h"
#include "transfer_handlers.h"

#include "download_message_generated.h"
#include "download_response_generated.h"
#include "get_node_by_fingerprint_message_generated.h"
#include "get_node_by_fingerprint_response_generated.h"
#include "transfer_metadata_message_generated.h"
#include "transfer_metadata_response_generated.h"
#include "upload_message_generated.h"
#include "upload_response_generated.h"

namespace corvane::service::test {
namespace {

constexpr uint64_t kClientId = 0x0102030405060708ull;
constexpr uint64_t kChunk = 1u << 20;

std::string uploadMessage(uint64_t size, uint64_t parent) {
    auto builder = messageBuilder();
    FinishSizePrefixedUploadMessageBuffer(builder, CreateUploadMessage(builder, size, 1, parent));
    return sizePrefixedMessage(builder);
}

std::string downloadMessage(uint64_t node) {
    auto builder = messageBuilder();
    FinishSizePrefixedDownloadMessageBuffer(builder, CreateDownloadMessage(builder, node));
    return sizePrefixedMessage(builder);
}

std::string publicDownloadMessage(const std::string& publicHandle) {
    auto builder = messageBuilder();
    const auto handle = bytesOf(builder, publicHandle);
    FinishSizePrefixedDownloadMessageBuffer(builder, CreateDownloadMessage(builder, 0, handle));
    return sizePrefixedMessage(builder);
}

std::string fingerprintMessage(const std::string& fingerprint, uint64_t size) {
    auto builder = messageBuilder();
    const auto bytes = bytesOf(builder, fingerprint);
    FinishSizePrefixedGetNodeByFingerprintMessageBuffer(builder,
                                                        CreateGetNodeByFingerprintMessage(builder, bytes, size));
    return sizePrefixedMessage(builder);
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string transferMetadataMessage(uint64_t handle, uint64_t size) {
    auto builder = messageBuilder();
    FinishSizePrefixedTransferMetadataMessageBuffer(builder, CreateTransferMetadataMessage(builder, handle, size));
    return sizePrefixedMessage(builder);
}

std::string attachMessage(uint64_t node, const std::string& token, uint8_t type) {
    auto builder = messageBuilder();
    const auto bytes = bytesOf(builder, token);
    FinishSizePrefixedAddMetadataMessageBuffer(builder,
                                               CreateAddMetadataMessage(builder, kClientId, node, bytes, type));
    return sizePrefixedMessage(builder);
}

class TransferHandlersTest : public AccountFixture {
protected:
    // The link of a new upload, or "" with the error in *error.
    std::string upload(uint64_t size, uint64_t parent, int32_t* error = nullptr,
                       const std::string& session = std::string()) {
        const Response answer = ask(session.empty() ? sessionA_ : session, uploadMessage(size, parent));
        const auto* response = answer.as<UploadResponse>("UPLR");
        if (error) *error = response ? response->error() : -1;
        return response && response->link() ? response->link()->str() : std::string();
    }

    Reply post(const std::string& url, const std::string& body = std::string()) {
        Call call;
        call.url = url;
        call.body = body;
        call.caFile = service_.certificatePath();
        return perform(call);
    }

    static std::string rangeUrl(const std::string& link, uint64_t first, uint64_t last) {
        return link + "/" + std::to_string(first) + "-" + std::to_string(last);
    }

    // Sends the chunk of `content` covering first..last; the reply of the chunk link.
    Reply sendChunk(const std::string& link, const std::string& content, uint64_t first, uint64_t last) {
        return post(rangeUrl(link, first, last), content.substr(first, last - first + 1));
    }

    // Uploads the whole content in order and answers the token ("" when none came).
    std::string uploadAll(const std::string& content, const std::string& session = std::string()) {
        const std::string link = upload(content.size(), session.empty() ? folder_ : 0, nullptr, session);
        std::string token;
        for (uint64_t first = 0; first < content.size(); first += kChunk) {
            const uint64_t last = std::min<uint64_t>(first + kChunk, content.size()) - 1;
            const Reply reply = sendChunk(link, content, first, last);
            if (!reply.body.empty()) token = reply.body;
        }
        return token;
    }

    // A file made from the token under the folder; its handle, 0 with the error in *error.
    uint64_t addFile(const std::string& token, uint64_t size, int32_t* error = nullptr,
                     const std::string& fingerprint = std::string()) {
        NewNode file{0, 0, 20};
        file.uploadToken = true;
        file.token = token;
        file.size = size;
        file.fingerprint = fingerprint;
        return addNodes({file}, error);
    }

    uint64_t addNodes(const std::vector<NewNode>& nodes, int32_t* error = nullptr) {
        const Response answer = ask(sessionA_, addNodesMessage(kClientId, folder_, nodes));
        const auto* response = answer.as<AddNodesResponse>("ADNR");
        if (error) *error = response ? response->error() : -1;
        if (!response || response->error() != 0 || !response->nodes() || response->nodes()->size() == 0) return 0;
        return response->nodes()->Get(0)->handle();
    }

    // The content link of a node, "" with the error in *error.
    std::string downloadLink(uint64_t node, int32_t* error = nullptr) {
        const Response answer = ask(sessionA_, downloadMessage(node));
        const auto* response = answer.as<DownloadResponse>("DOWR");
        if (error) *error = response ? response->error() : -1;
        return response && response->link() ? response->link()->str() : std::string();
    }

    struct BlobLink {
        int32_t error = -1;
        std::string link;
        uint64_t size = 0;
    };
    BlobLink blobLink(uint64_t handle, uint64_t size, const std::string& session = std::string()) {
        const Response answer = ask(session.empty() ? sessionA_ : session, transferMetadataMessage(handle, size));
        const auto* response = answer.as<TransferMetadataResponse>("TRMR");
        BlobLink link;
        if (!response) return link;
        link.error = response->error();
        link.link = response->link() ? response->link()->str() : std::string();
        link.size = response->size();
        return link;
    }

    // Attaches the token to the node; the new blob's handle, 0 on refusal.
    uint64_t attach(uint64_t node, const std::string& token, uint8_t type) {
        const Response answer = ask(sessionA_, attachMessage(node, token, type));
        const auto* response = answer.as<AddMetadataResponse>("ADMR");
        return response && response->error() == 0 ? response->handle() : 0;
    }

    // A stored file of the given content; its handle.
    uint64_t storedFile(const std::string& content, const std::string& fingerprint = std::string()) {
        const std::string token = uploadAll(content);
        EXPECT_FALSE(token.empty());
        return addFile(token, content.size(), nullptr, fingerprint);
    }
};

TEST(ChunkPath, ReadsLinkIdAndInclusiveRange) {
    struct Case {
        const char* path;
        bool valid;
        bool upload;
        const char* id;
        uint64_t first, last;
    };
    const std::vector<Case> cases = {
        {"/ul/abc/0-1048575", true, true, "abc", 0, 1048575},
        {"/dl/x1/2097152-2999999", true, false, "x1", 2097152, 2999999},
        {"/dl/x1/7-7", true, false, "x1", 7, 7},
        {"/ul/abc/8-7", false, false, "", 0, 0},
        {"/ul/abc/0-", false, false, "", 0, 0},
        {"/ul/abc/-5", false, false, "", 0, 0},
        {"/ul/abc/+1-5", false, false, "", 0, 0},
        {"/ul/abc", false, false, "", 0, 0},
        {"/ul//0-5", false, false, "", 0, 0},
        {"/ul/abc/0-5/", false, false, "", 0, 0},
        {"/blob/abc/0-5", false, false, "", 0, 0},
        {"/ul/abc/0-99999999999999999999", false, false, "", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const auto chunk = parseChunkPath(c.path);
        ASSERT_EQ(chunk.has_value(), c.valid);
        if (!chunk) continue;
        EXPECT_EQ(chunk->upload, c.upload);
        EXPECT_EQ(chunk->id, c.id);
        EXPECT_EQ(chunk->first, c.first);
        EXPECT_EQ(chunk->last, c.last);
    }
}

TEST_F(TransferHandlersTest, UploadLinksAreFreshAndBare) {
    const std::string first = upload(3000000, folder_);
    const std::string second = upload(3000000, folder_);
    ASSERT_FALSE(first.empty());
    EXPECT_NE(first, second);
    for (const auto& link : {first, second}) {
        EXPECT_EQ(link.rfind(service_.baseUrl() + "/", 0), 0u) << link;
        EXPECT_NE(link.back(), '/') << link;
        EXPECT_EQ(link.find('?'), std::string::npos) << link;
    }
}

TEST_F(TransferHandlersTest, UploadTakesRangesInAnyOrderWithRetriesAndAnswersTheTokenOnCompletionOnly) {
    const std::string content = randomBytes(3000000);
    const std::string link = upload(content.size(), folder_);
    ASSERT_FALSE(link.empty());
    struct Step {
        uint64_t first, last;
        bool token;
    };
    // The last chunk first, the first chunk twice: only the chunk that fills the last gap
    // answers with the token.
    const std::vector<Step> steps = {
        {2097152, 2999999, false}, {0, 1048575, false}, {0, 1048575, false}, {1048576, 2097151, true}};
    std::string token;
    for (const auto& step : steps) {
        const Reply reply = sendChunk(link, content, step.first, step.last);
        ASSERT_EQ(reply.status, 200) << step.first;
        EXPECT_EQ(!reply.body.empty(), step.token) << step.first;
        if (step.token) token = reply.body;
    }
    // A chunk sent again after completion (its answer was lost) gets the same token.
    EXPECT_EQ(sendChunk(link, content, 0, 1048575).body, token);

    const uint64_t node = addFile(token, content.size());
    ASSERT_NE(node, 0u);
    EXPECT_EQ(fileBytes(service_.contentFile(node)), content);
}

TEST_F(TransferHandlersTest, FourChunksInFlightCompleteOnceWithOneToken) {
    const std::string content = randomBytes(4 * kChunk + 12345);
    const std::string link = upload(content.size(), folder_);
    std::vector<uint64_t> firsts;
    for (uint64_t first = 0; first < content.size(); first += kChunk)
        firsts.push_back(first);
    std::reverse(firsts.begin(), firsts.end());
    std::vector<Reply> replies(firsts.size());
    // Four at a time, as a client keeps its request slots busy.
    for (size_t batch = 0; batch < firsts.size(); batch += 4) {
        std::vector<std::thread> threads;
        for (size_t i = batch; i < std::min(batch + 4, firsts.size()); ++i) {
            threads.emplace_back([&, i] {
                const uint64_t last = std::min<uint64_t>(firsts[i] + kChunk, content.size()) - 1;
                replies[i] = sendChunk(link, content, firsts[i], last);
            });
        }
        for (auto& thread : threads)
            thread.join();
    }
    std::string token;
    int tokens = 0;
    for (const auto& reply : replies) {
        EXPECT_EQ(reply.status, 200);
        if (!reply.body.empty()) {
            ++tokens;
            token = reply.body;
        }
    }
    EXPECT_EQ(tokens, 1);
    const uint64_t node = addFile(token, content.size());
    ASSERT_NE(node, 0u);
    EXPECT_EQ(fileBytes(service_.contentFile(node)), content);
}

TEST_F(TransferHandlersTest, UploadRefusals) {
    struct Case {
        const char* name;
        std::function<void()> before;
        std::string session;
        uint64_t parent;
        int32_t error;
    };
    const uint64_t absent = 0x0000ABCDEF012345ull;
    const std::vector<Case> cases = {
        {"the account's folder", [] {}, sessionA_, folder_, 0},
        {"no parent given", [] {}, sessionA_, 0, 0},
        {"an unknown parent", [] {}, sessionA_, absent, 1},
        {"another account's folder", [] {}, otherSession_, folder_, 1},
        {"quota exceeded", [this] { ASSERT_TRUE(service_.setQuotaExceeded(account_, true)); }, sessionA_, folder_, 13},
        {"another account's quota", [] {}, otherSession_, 0, 0},
        {"quota back", [this] { ASSERT_TRUE(service_.setQuotaExceeded(account_, false)); }, sessionA_, folder_, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.before();
        int32_t error = -1;
        const std::string link = upload(1000, c.parent, &error, c.session);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(link.empty(), c.error != 0);
    }
    EXPECT_FALSE(service_.setQuotaExceeded(0x0000123456789ull, true));
    // A batch without session cannot upload.
    const BatchReply reply = batch("", {uploadMessage(1000, folder_)});
    ASSERT_EQ(reply.responses.size(), 1u);
    EXPECT_EQ(reply.responses[0].as<UploadResponse>("UPLR")->error(), 3);
}

TEST_F(TransferHandlersTest, ChunksOutsideTheirUploadAreRefusedAndStoreNothing) {
    const std::string content = randomBytes(3000);
    const std::string link = upload(content.size(), folder_);
    struct Case {
        const char* name;
        std::string url;
        std::string body;
        long status;
    };
    const std::vector<Case> cases = {
        {"unknown upload", rangeUrl(service_.baseUrl() + "/ul/" + std::string(32, 'a'), 0, 2999), content, 404},
        {"range beyond the size", rangeUrl(link, 2000, 3000), std::string(1001, 'x'), 416},
        {"body shorter than the range", rangeUrl(link, 0, 2999), content.substr(0, 2999), 416},
        {"body longer than the range", rangeUrl(link, 0, 1999), content, 416},
        {"range backwards", link + "/2999-0", content, 404},
        {"no range", link, content, 404},
    };
    for (const auto& c : cases) {
        const Reply reply = post(c.url, c.body);
        EXPECT_EQ(reply.status, c.status) << c.name;
        EXPECT_EQ(reply.body, "") << c.name;
    }
    // None of them counted: the whole content still completes only with its own bytes.
    const Reply reply = sendChunk(link, content, 0, 2999);
    ASSERT_FALSE(reply.body.empty());
    const uint64_t node = addFile(reply.body, content.size());
    EXPECT_EQ(fileBytes(service_.contentFile(node)), content);
}

TEST_F(TransferHandlersTest, AddNodesTakesOnlyCompleteUploadsOfTheAnnouncedSize) {
    const std::string content = randomBytes(5000);
    const std::string token = uploadAll(content);
    ASSERT_FALSE(token.empty());
    const std::string otherToken = uploadAll(randomBytes(700), otherSession_);
    ASSERT_FALSE(otherToken.empty());
    // An upload with a gap never gets a token; its link's id is no token either.
    const std::string partLink = upload(5000, folder_);
    sendChunk(partLink, content, 0, 999);
    const std::string partId = partLink.substr(partLink.rfind('/') + 1);

    struct Case {
        const char* name;
        std::string token;
        uint64_t size;
        int32_t error;
    };
    const std::vector<Case> cases = {
        {"unknown token", "0123456789abcdef0123456789abcdef", 5000, 21},
        {"an incomplete upload's id", partId, 5000, 21},
        {"another account's upload", otherToken, 700, 21},
        {"size other than announced", token, 4999, 5},
        {"empty token for a non-empty file", "", 5000, 21},
        {"empty token for a zero-byte file", "", 0, 0},
        {"the complete upload", token, 5000, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const uint64_t before = status();
        int32_t error = -1;
        const uint64_t node = addFile(c.token, c.size, &error);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(status(), before + (c.error == 0 ? 1 : 0)) << "a refused message changed the tree";
        if (c.error != 0) continue;
        const std::string path = service_.contentFile(node);
        ASSERT_FALSE(path.empty());
        EXPECT_EQ(fileBytes(path), c.size == 0 ? std::string() : content);
    }

    // A refused token refuses the whole message, the nodes beside it included.
    const size_t nodesBefore = service_.accounts().nodes(account_).size();
    NewNode folder{0, 0, 21};
    NewNode bad{0, 0, 20};
    bad.uploadToken = true;
    bad.token = partId;
    bad.size = 5000;
    int32_t error = -1;
    addNodes({folder, bad}, &error);
    EXPECT_EQ(error, 21);
    EXPECT_EQ(service_.accounts().nodes(account_).size(), nodesBefore);
}

TEST_F(TransferHandlersTest, NodeNamedByTheHandleOfAStoredFileCopiesItsContent) {
    const std::string content = randomBytes(2500);
    const uint64_t original = storedFile(content);
    ASSERT_NE(original, 0u);
    NewNode copy{original, 0, 20};
    copy.size = content.size();
    const uint64_t copied = addNodes({copy});
    ASSERT_NE(copied, 0u);
    EXPECT_NE(copied, original);
    EXPECT_EQ(fileBytes(service_.contentFile(copied)), content);
    // A node named by a handle without content (the client's own number) gets none.
    const uint64_t plain = addNodes({NewNode{77, 0, 20}});
    ASSERT_NE(plain, 0u);
    EXPECT_EQ(service_.contentFile(plain), "");
    // Another account cannot take the content by naming the file's handle.
    NewNode foreign{original, 0, 20};
    foreign.size = content.size();
    const Response answer = ask(otherSession_, addNodesMessage(kClientId, otherRoot_, {foreign}));
    const auto* response = answer.as<AddNodesResponse>("ADNR");
    ASSERT_NE(response, nullptr);
    ASSERT_EQ(response->error(), 0);
    EXPECT_EQ(service_.contentFile(response->nodes()->Get(0)->handle()), "");
}

TEST_F(TransferHandlersTest, DownloadAnswersTheContentLinkAndItsRangesExactly) {
    const std::string content = randomBytes(3000000);
    const uint64_t node = storedFile(content);
    ASSERT_NE(node, 0u);

    const Response answer = ask(sessionA_, downloadMessage(node));
    const auto* response = answer.as<DownloadResponse>("DOWR");
    ASSERT_NE(response, nullptr);
    EXPECT_EQ(response->error(), 0);
    ASSERT_NE(response->link(), nullptr);
    const std::string link = response->link()->str();
    EXPECT_NE(link.back(), '/');
    EXPECT_EQ(link.find('?'), std::string::npos);
    EXPECT_EQ(response->size(), content.size());
    EXPECT_EQ(response->type(), 20);
    EXPECT_EQ(response->account(), account_);
    const auto stored = service_.accounts().node(account_, node);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stringOf(response->attributes()), *stored->attributes);

    struct Case {
        uint64_t first, last;
        long status;
    };
    const std::vector<Case> cases = {
        {0, 1048575, 200},       {1048576, 2097151, 200}, {2097152, 2999999, 200}, {1500000, 2097151, 200},
        {2999999, 2999999, 200}, {2999999, 3000000, 416}, {3000000, 3000000, 416},
    };
    for (const auto& c : cases) {
        const Reply reply = post(rangeUrl(link, c.first, c.last));
        EXPECT_EQ(reply.status, c.status) << c.first << "-" << c.last;
        if (c.status == 200) {
            EXPECT_TRUE(reply.body == content.substr(c.first, c.last - c.first + 1)) << c.first;
        }
    }
    EXPECT_EQ(post(rangeUrl(service_.baseUrl() + "/dl/" + std::string(32, 'b'), 0, 9)).status, 404);
}

TEST_F(TransferHandlersTest, DownloadOfNodesWithoutContent) {
    struct Case {
        const char* name;
        std::string session;
        uint64_t node;
        int32_t error;
        bool link;
    };
    const uint64_t empty = addFile("", 0);
    const std::vector<Case> cases = {
        {"zero-byte file", sessionA_, empty, 0, true},
        {"folder", sessionA_, folder_, 0, false},
        {"another account's node", otherSession_, folder_, 1, false},
        {"unknown node", sessionA_, 0x0000ABCDEF012345ull, 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Response answer = ask(c.session, downloadMessage(c.node));
        const auto* response = answer.as<DownloadResponse>("DOWR");
        ASSERT_NE(response, nullptr);
        EXPECT_EQ(response->error(), c.error);
        EXPECT_EQ(response->link() != nullptr, c.link);
        if (c.error == 0) {
            EXPECT_EQ(response->size(), 0u);
        }
    }
}

TEST_F(TransferHandlersTest, PublicDownloadOfAnInboxCarriesTheOwnerAccountsPublicKey) {
    auto record = service_.accounts().node(account_, folder_);
    ASSERT_TRUE(record);
    NodeRecord inbox;
    inbox.parent = root_;
    inbox.type = 43;
    inbox.pubhandle = std::string("\x01\x02\x03\x04\x05\x06", 6);
    inbox.attributes = randomBytes(40);
    const uint64_t handle = service_.accounts().addNode(account_, inbox);
    ASSERT_NE(handle, 0u);
    {
        auto scope = service_.accounts().openWithoutSession();
        AccountRecord owner;
        owner.handle = account_;
        owner.publicKey = std::string("owner-public-key");
        ASSERT_TRUE(scope->store().putAccountRecord(owner));
    }
    // Asked without a session, as the sender of a record asks.
    const BatchReply reply = batch("", {publicDownloadMessage(*inbox.pubhandle)});
    ASSERT_EQ(reply.responses.size(), 1u);
    const auto* response = reply.responses[0].as<DownloadResponse>("DOWR");
    ASSERT_NE(response, nullptr);
    EXPECT_EQ(response->error(), 0);
    EXPECT_EQ(response->type(), 43);
    EXPECT_EQ(response->account(), account_);
    EXPECT_EQ(stringOf(response->publicKey()), "owner-public-key");
    EXPECT_EQ(stringOf(response->attributes()), *inbox.attributes);

    const BatchReply unknown = batch("", {publicDownloadMessage("\x09\x09\x09\x09\x09\x09")});
    ASSERT_EQ(unknown.responses.size(), 1u);
    EXPECT_EQ(unknown.responses[0].as<DownloadResponse>("DOWR")->error(), 1);
}

TEST_F(TransferHandlersTest, GetNodeByFingerprintAnswersTheChainOfAStoredFileOfThatFingerprint) {
    const std::string fingerprint = randomBytes(20);
    const std::string content = randomBytes(1234);
    const uint64_t file = storedFile(content, fingerprint);
    ASSERT_NE(file, 0u);
    // A file with the fingerprint but no stored content is no match.
    NewNode bare{0, 0, 20};
    bare.fingerprint = randomBytes(20);
    ASSERT_NE(addNodes({bare}), 0u);

    struct Case {
        const char* name;
        std::string session;
        std::string fingerprint;
        uint64_t size;
        int32_t error;
    };
    const std::vector<Case> cases = {
        {"same fingerprint", sessionA_, fingerprint, 0, 0},
        {"same fingerprint and size", sessionA_, fingerprint, content.size(), 0},
        {"another size", sessionA_, fingerprint, content.size() + 1, 1},
        {"another fingerprint", sessionA_, randomBytes(20), 0, 1},
        {"a file without content", sessionA_, bare.fingerprint, 0, 1},
        {"another account", otherSession_, fingerprint, 0, 1},
        {"no fingerprint", sessionA_, "", 0, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Response answer = ask(c.session, fingerprintMessage(c.fingerprint, c.size));
        const auto* response = answer.as<GetNodeByFingerprintResponse>("GNFR");
        ASSERT_NE(response, nullptr);
        EXPECT_EQ(response->error(), c.error);
        if (c.error != 0) continue;
        ASSERT_NE(response->nodes(), nullptr);
        std::vector<uint64_t> chain;
        for (const auto* node : *response->nodes())
            chain.push_back(node->handle());
        EXPECT_EQ(chain, (std::vector<uint64_t>{root_, folder_, file}));
        EXPECT_EQ(response->nodes()->Get(0)->type(), 0);
        EXPECT_EQ(stringOf(response->nodes()->Get(2)->fingerprint()), fingerprint);
    }
}

TEST_F(TransferHandlersTest, ContentsOutliveARestart) {
    const std::string content = randomBytes(4000);
    const uint64_t node = storedFile(content);
    ASSERT_NE(node, 0u);
    service_.stop();
    ASSERT_TRUE(service_.start());
    EXPECT_EQ(fileBytes(service_.contentFile(node)), content);
    const std::string again = downloadLink(node);
    EXPECT_EQ(post(rangeUrl(again, 0, 3999)).body, content);
}

ChunkFault chunkFault(ChunkFault::Link link, ChunkFault::Kind kind, int64_t first = 0) {
    ChunkFault fault;
    fault.link = link;
    fault.kind = kind;
    fault.first = first;
    fault.slowFor = std::chrono::milliseconds(400);
    return fault;
}

// Each switch on the first chunk of a two-chunk upload: what the chunk's answer is, what was
// stored, and that the chunk sent again goes through.
TEST_F(TransferHandlersTest, UploadChunkFaultSwitches) {
    using Kind = ChunkFault::Kind;
    const auto toUpload = ChunkFault::Link::Upload;
    struct Case {
        const char* name;
        ChunkFault fault;
        bool lastChunkFirst;  // send the second chunk before the faulty one, so that it completes
        CURLcode code;
        long status;
        bool token;         // the faulty exchange answered the token
        bool flippedStore;  // the stored content has the chunk's middle byte flipped
    };
    const std::vector<Case> cases = {
        {"500", chunkFault(toUpload, Kind::ServerError), false, CURLE_OK, 500, false, false},
        {"404", chunkFault(toUpload, Kind::NotFound), false, CURLE_OK, 404, false, false},
        {"dropped mid-body", chunkFault(toUpload, Kind::Drop), false, CURLE_OK, 0, false, false},
        {"flipped byte", chunkFault(toUpload, Kind::FlipByte), true, CURLE_OK, 200, true, true},
        {"no token", chunkFault(toUpload, Kind::NoToken), true, CURLE_OK, 200, false, false},
        {"no token for another chunk", chunkFault(toUpload, Kind::NoToken, 1048576), true, CURLE_OK, 200, true, false},
        {"slow body", chunkFault(toUpload, Kind::SlowBody), true, CURLE_OK, 200, true, false},
        {"short body applies to downloads only", chunkFault(toUpload, Kind::ShortBody), true, CURLE_OK, 200, true,
         false},
        {"a download fault", chunkFault(ChunkFault::Link::Download, Kind::ServerError), true, CURLE_OK, 200, true,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        service_.clearChunkFaults();
        const std::string content = randomBytes(kChunk + 5000);
        const std::string link = upload(content.size(), folder_);
        ASSERT_FALSE(link.empty());
        if (c.lastChunkFirst) {
            ASSERT_EQ(sendChunk(link, content, kChunk, content.size() - 1).body, "");
        }
        service_.addChunkFault(c.fault);
        const auto start = std::chrono::steady_clock::now();
        const Reply reply = sendChunk(link, content, 0, kChunk - 1);
        const auto took = std::chrono::steady_clock::now() - start;
        if (c.status == 0) {
            EXPECT_NE(reply.code, CURLE_OK) << "the connection was not dropped";
        } else {
            EXPECT_EQ(reply.code, c.code) << curl_easy_strerror(reply.code);
        }
        EXPECT_EQ(reply.status, c.status);
        EXPECT_EQ(!reply.body.empty(), c.token);
        if (c.fault.kind == Kind::SlowBody) {
            EXPECT_GE(took, c.fault.slowFor * 3 / 4) << "the body was not read slowly";
        }
        if (!c.lastChunkFirst) {
            // Nothing of the faulty exchange counted: the second chunk does not complete.
            EXPECT_EQ(sendChunk(link, content, kChunk, content.size() - 1).body, "");
        }
        // The chunk sent again (a retry, or a re-send after a lost token) gets the token.
        const Reply again = sendChunk(link, content, 0, kChunk - 1);
        ASSERT_EQ(again.status, 200);
        ASSERT_FALSE(again.body.empty());
        if (c.token) {
            EXPECT_EQ(again.body, reply.body);
        }
        const uint64_t node = addFile(again.body, content.size());
        ASSERT_NE(node, 0u);
        std::string expected = content;
        if (c.flippedStore) expected[kChunk / 2] = static_cast<char>(expected[kChunk / 2] ^ 0xFF);
        EXPECT_TRUE(fileBytes(service_.contentFile(node)) == expected) << "stored bytes differ";
    }
}

// Each switch on one range of a stored content: what its answer carries, and that the next
// request for the range is answered normally.
TEST_F(TransferHandlersTest, DownloadChunkFaultSwitches) {
    using Kind = ChunkFault::Kind;
    const auto download = ChunkFault::Link::Download;
    const std::string content = randomBytes(3000000);
    const uint64_t node = storedFile(content);
    const std::string link = downloadLink(node);
    ASSERT_FALSE(link.empty());
    const uint64_t first = 1048576, last = 2097151, length = last - first + 1;
    const std::string range = content.substr(first, length);
    std::string flipped = range;
    flipped[length / 2] = static_cast<char>(flipped[length / 2] ^ 0xFF);
    struct Case {
        const char* name;
        ChunkFault fault;
        CURLcode code;
        long status;
        std::string body;
    };
    const std::vector<Case> cases = {
        {"500", chunkFault(download, Kind::ServerError, first), CURLE_OK, 500, ""},
        {"404", chunkFault(download, Kind::NotFound, first), CURLE_OK, 404, ""},
        {"dropped mid-body", chunkFault(download, Kind::Drop, first), CURLE_PARTIAL_FILE, 200,
         range.substr(0, length / 2)},
        {"flipped byte", chunkFault(download, Kind::FlipByte, first), CURLE_OK, 200, flipped},
        {"short body", chunkFault(download, Kind::ShortBody, first), CURLE_OK, 200, range.substr(0, length / 2)},
        {"slow body", chunkFault(download, Kind::SlowBody, first), CURLE_OK, 200, range},
        {"a fault on another chunk", chunkFault(download, Kind::ServerError, 0), CURLE_OK, 200, range},
        {"no token applies to uploads only", chunkFault(download, Kind::NoToken, first), CURLE_OK, 200, range},
        {"an upload fault", chunkFault(ChunkFault::Link::Upload, Kind::ServerError, first), CURLE_OK, 200, range},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        service_.clearChunkFaults();
        service_.addChunkFault(c.fault);
        const auto start = std::chrono::steady_clock::now();
        const Reply reply = post(rangeUrl(link, first, last));
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(reply.code, c.code) << curl_easy_strerror(reply.code);
        EXPECT_EQ(reply.status, c.status);
        EXPECT_TRUE(reply.body == c.body) << "body of " << reply.body.size() << " bytes";
        if (c.fault.kind == Kind::SlowBody) {
            EXPECT_GE(took, c.fault.slowFor * 3 / 4) << "the body was not sent slowly";
        }
        if (c.fault.kind == Kind::Drop) {
            EXPECT_EQ(reply.headers.at("content-length"), std::to_string(length));
        }
        const Reply next = post(rangeUrl(link, first, last));
        EXPECT_EQ(next.status, 200);
        EXPECT_TRUE(next.body == range);
    }
}

TEST_F(TransferHandlersTest, ChunkFaultLastsItsTimes) {
    const std::string content = randomBytes(3000);
    const uint64_t node = storedFile(content);
    const std::string link = downloadLink(node);
    ChunkFault fault = chunkFault(ChunkFault::Link::Download, ChunkFault::Kind::ServerError, -1);
    fault.times = 2;
    service_.addChunkFault(fault);
    EXPECT_EQ(post(rangeUrl(link, 0, 999)).status, 500);
    EXPECT_EQ(post(rangeUrl(link, 1000, 2999)).status, 500);
    EXPECT_EQ(post(rangeUrl(link, 0, 999)).status, 200);
    fault.times = -1;
    service_.addChunkFault(fault);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(post(rangeUrl(link, 0, 999)).status, 500);
    service_.clearChunkFaults();
    EXPECT_EQ(post(rangeUrl(link, 0, 999)).status, 200);
}

// Contents live in files under the data directory: a new stand-in on it serves what an earlier
// one stored.
TEST_F(TransferHandlersTest, MetadataBlobGoesUpInOnePostAndComesBackWholeByItsHandle) {
    const std::string blob = std::string(10 * 1024 + 28, 'm') + "end";
    const BlobLink slot = blobLink(0, blob.size());
    ASSERT_EQ(slot.error, 0);
    ASSERT_EQ(slot.link.rfind(service_.baseUrl() + "/mul/", 0), 0u) << slot.link;
    const Reply posted = post(slot.link, blob);
    ASSERT_EQ(posted.status, 200);
    ASSERT_FALSE(posted.body.empty()) << "the slot answers the blob's token";

    const uint64_t handle = attach(file_, posted.body, 2);
    ASSERT_NE(handle, 0u);
    const BlobLink stored = blobLink(handle, 0);
    ASSERT_EQ(stored.error, 0);
    EXPECT_EQ(stored.size, blob.size());
    ASSERT_EQ(stored.link.rfind(service_.baseUrl() + "/mdl/", 0), 0u) << stored.link;
    const Reply fetched = post(stored.link);
    EXPECT_EQ(fetched.status, 200);
    EXPECT_EQ(fetched.body, blob);
}

TEST_F(TransferHandlersTest, MetadataBlobRefusals) {
    const BlobLink slot = blobLink(0, 100);
    ASSERT_EQ(slot.error, 0);
    // A body of another size than the slot's completes nothing.
    const Reply short_ = post(slot.link, std::string(60, 'x'));
    EXPECT_EQ(short_.status, 200);
    EXPECT_TRUE(short_.body.empty());
    auto handleOfStored = [&] {
        const Reply reply = post(blobLink(0, 5).link, "abcde");
        return attach(file_, reply.body, 1);
    };
    // A token that names no complete blob leaves an entry without a blob behind.
    const uint64_t dangling = attach(file_, "no such token", 1);
    ASSERT_NE(dangling, 0u);

    struct Case {
        const char* name;
        uint64_t handle;
        uint64_t size;
        std::string session;
        int32_t error;
    };
    const std::vector<Case> cases{
        {"no size", 0, 0, sessionA_, 5},
        {"larger than one request takes", 0, StandInService::kMaxBodyBytes + 1, sessionA_, 5},
        {"unknown handle", 0x7777, 0, sessionA_, 1},
        {"entry without a complete blob", dangling, 0, sessionA_, 1},
        {"a blob of another account's node", handleOfStored(), 0, otherSession_, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(blobLink(c.handle, c.size, c.session).error, c.error);
    }
    EXPECT_EQ(post(service_.baseUrl() + "/mdl/unknown").status, 404);
    EXPECT_EQ(post(service_.baseUrl() + "/mul/unknown", "x").status, 404);
}

TEST(TransferContents, OutliveTheServiceOnItsDataDirectory) {
    char pattern[] = "/tmp/corvane-contents-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string directory = pattern;
    const std::string content = randomBytes(3000);
    auto post = [](const StandInService& service, const std::string& url, const std::string& body) {
        Call call;
        call.url = url;
        call.body = body;
        call.caFile = service.certificatePath();
        return perform(call);
    };
    uint64_t node = 0;
    std::string session;
    {
        StandInService service;
        service.setDataDirectory(directory);
        ASSERT_TRUE(service.start());
        AccountDirectory& accounts = service.accounts();
        const uint64_t user = accounts.createUser("ada@example.test");
        const uint64_t account = accounts.createAccount(user);
        NodeRecord root;
        root.type = 0;
        const uint64_t rootHandle = accounts.addRoot(account, root, FilesystemRecord{});
        session = accounts.createSession(user, account);
        const BatchReply uploaded = sendBatch(service, session, {uploadMessage(content.size(), rootHandle)});
        ASSERT_EQ(uploaded.responses.size(), 1u);
        const std::string link = uploaded.responses[0].as<UploadResponse>("UPLR")->link()->str();
        const Reply reply = post(service, link + "/0-2999", content);
        ASSERT_FALSE(reply.body.empty());
        NewNode file{0, 0, 20};
        file.uploadToken = true;
        file.token = reply.body;
        file.size = content.size();
        const BatchReply added = sendBatch(service, session, {addNodesMessage(kClientId, rootHandle, {file})});
        ASSERT_EQ(added.responses.size(), 1u);
        node = added.responses[0].as<AddNodesResponse>("ADNR")->nodes()->Get(0)->handle();
        EXPECT_EQ(service.contentFile(node).rfind(directory + "/contents/", 0), 0u);
    }
    {
        StandInService service;
        service.setDataDirectory(directory);
        ASSERT_TRUE(service.start());
        EXPECT_EQ(fileBytes(service.contentFile(node)), content);
        const BatchReply answer = sendBatch(service, session, {downloadMessage(node)});
        ASSERT_EQ(answer.responses.size(), 1u);
        const auto* response = answer.responses[0].as<DownloadResponse>("DOWR");
        ASSERT_NE(response, nullptr);
        ASSERT_NE(response->link(), nullptr);
        EXPECT_EQ(post(service, response->link()->str() + "/1000-2999", "").body, content.substr(1000));
    }
    std::filesystem::remove_all(directory);
}

}  // namespace
}  // namespace corvane::service::test
