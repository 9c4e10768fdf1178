// The bare rates of a transfer's stages on this machine (bench/transfer_bare_rates.h): single-core
// BLAKE2b and AES-256-CTR, and the curl tool posting 256 MiB as 1 MiB chunks four at a time to
// the stand-in's upload link and fetching them back from the content's download link.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "account_directory.h"
#include "api_session.h"
#include "stand_in_service.h"
#include "transfer_bare_rates.h"

#include "add_nodes_message_generated.h"
#include "add_nodes_response_generated.h"
#include "download_message_generated.h"
#include "download_response_generated.h"
#include "upload_message_generated.h"
#include "upload_response_generated.h"

namespace {

using namespace corvane::service;
using namespace corvane::service::test;
using namespace corvane;

constexpr size_t kChunks = 256;

// The one response of a batch of one message, or an empty one.
Response ask(const StandInService& service, const std::string& session, const std::string& message) {
    BatchReply reply = sendBatch(service, session, {message});
    return reply.responses.size() == 1 ? reply.responses[0] : Response();
}

std::string uploadLink(const StandInService& service, const std::string& session, uint64_t size, uint64_t parent) {
    auto builder = messageBuilder();
    FinishSizePrefixedUploadMessageBuffer(builder, CreateUploadMessage(builder, size, 1, parent));
    const Response answer = ask(service, session, sizePrefixedMessage(builder));
    const auto* response = answer.as<UploadResponse>("UPLR");
    return response && response->error() == 0 && response->link() ? response->link()->str() : std::string();
}

uint64_t addFile(const StandInService& service, const std::string& session, uint64_t parent, const std::string& token,
                 uint64_t size) {
    auto builder = messageBuilder();
    const auto tokenBytes = builder.CreateVector(reinterpret_cast<const uint8_t*>(token.data()), token.size());
    const auto empty = builder.CreateVector(static_cast<const uint8_t*>(nullptr), 0);
    NodeMessageBuilder node(builder);
    node.add_token(tokenBytes);
    node.add_type(20);
    node.add_size(size);
    node.add_childkey(empty);
    node.add_attributes(empty);
    const auto table = node.Finish();
    const auto nodes = builder.CreateVector(&table, 1);
    FinishSizePrefixedAddNodesMessageBuffer(builder, CreateAddNodesMessage(builder, 0, parent, nodes));
    const Response answer = ask(service, session, sizePrefixedMessage(builder));
    const auto* response = answer.as<AddNodesResponse>("ADNR");
    if (!response || response->error() != 0 || !response->nodes() || response->nodes()->size() != 1) return 0;
    return response->nodes()->Get(0)->handle();
}

std::string downloadLink(const StandInService& service, const std::string& session, uint64_t node) {
    auto builder = messageBuilder();
    FinishSizePrefixedDownloadMessageBuffer(builder, CreateDownloadMessage(builder, node));
    const Response answer = ask(service, session, sizePrefixedMessage(builder));
    const auto* response = answer.as<DownloadResponse>("DOWR");
    return response && response->error() == 0 && response->link() ? response->link()->str() : std::string();
}

}  // namespace

// Argument: rounds (3); each round measures every stage once, and the best round is printed.
int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    curl_global_init(CURL_GLOBAL_ALL);
    StandInService service;
    if (!service.start()) {
        std::fprintf(stderr, "stand-in service did not start\n");
        return 1;
    }
    AccountDirectory& accounts = service.accounts();
    const uint64_t user = accounts.createUser("bench@example.test");
    const uint64_t account = accounts.createAccount(user);
    NodeRecord root;
    root.type = 0;
    const uint64_t rootHandle = accounts.addRoot(account, root, FilesystemRecord{});
    const std::string session = accounts.createSession(user, account);
    if (rootHandle == 0 || session.empty()) {
        std::fprintf(stderr, "stand-in account not made\n");
        return 1;
    }

    const size_t total = kChunks * corvane::bench::kBareChunk;
    double blake = 0, aes = 0, up = 0, down = 0;
    for (int round = 0; round < rounds; ++round) {
        blake = std::max(blake, corvane::bench::blake2bRate(total));
        aes = std::max(aes, corvane::bench::aesCtrRate(total));
        const std::string warm = uploadLink(service, session, corvane::bench::kBareChunk, rootHandle);
        const std::string link = uploadLink(service, session, total, rootHandle);
        std::string token;
        up = std::max(up, corvane::bench::curlUploadRate(warm, link, kChunks, &token));
        const uint64_t node = token.empty() ? 0 : addFile(service, session, rootHandle, token, total);
        const std::string content = node ? downloadLink(service, session, node) : std::string();
        if (content.empty()) {
            std::fprintf(stderr, "upload gave no content to download\n");
            continue;
        }
        down = std::max(down, corvane::bench::curlDownloadRate(content, kChunks - 1));
    }
    std::printf("bare rates, best of %d rounds, MB/s (10^6 bytes per second), 256 MiB each:\n", rounds);
    std::printf("  %-44s %10.1f\n", "BLAKE2b-256, one core (Crypto++)", blake);
    std::printf("  %-44s %10.1f\n", "AES-256-CTR, one core (Crypto++)", aes);
    std::printf("  %-44s %10.1f\n", "curl tool upload, 1 MiB chunks, 4 at once", up);
    std::printf("  %-44s %10.1f\n", "curl tool download, 1 MiB chunks, 4 at once", down);
    std::printf("  %-44s %10.1f\n", "slowest upload stage", std::min({blake, aes, up}));
    std::printf("  %-44s %10.1f\n", "slowest download stage", std::min({blake, aes, down}));
    service.stop();
    curl_global_cleanup();
    return 0;
}
