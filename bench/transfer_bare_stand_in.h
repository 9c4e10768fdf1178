// The stand-in's side of the bare curl rates (transfer_bare_rates.h): an upload link for the tool,
// the tool's token turned into a file node, and that node's content link; then every bare rate of
// one round. A bench that links the stand-in includes this beside its own figures (its target needs
// corvane_service, CURL::libcurl, PkgConfig::CRYPTOPP and service/tests on its include path).
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

#include "api_session.h"
#include "stand_in_service.h"
#include "transfer_bare_rates.h"

#include "add_nodes_message_generated.h"
#include "add_nodes_response_generated.h"
#include "download_message_generated.h"
#include "download_response_generated.h"
#include "upload_message_generated.h"
#include "upload_response_generated.h"

namespace corvane::bench {

namespace bare {

using corvane::service::StandInService;
using corvane::service::test::Response;

// The one response of a batch of one message, or an empty one.
inline Response ask(const StandInService& service, const std::string& session, const std::string& message) {
    auto reply = corvane::service::test::sendBatch(service, session, {message});
    return reply.responses.size() == 1 ? reply.responses[0] : Response();
}

inline std::string uploadLink(const StandInService& service, const std::string& session, uint64_t size,
                              uint64_t parent) {
    auto builder = corvane::service::test::messageBuilder();
    FinishSizePrefixedUploadMessageBuffer(builder, CreateUploadMessage(builder, size, 1, parent));
    const Response answer = ask(service, session, corvane::service::test::sizePrefixedMessage(builder));
    const auto* response = answer.as<UploadResponse>("UPLR");
    return response && response->error() == 0 && response->link() ? response->link()->str() : std::string();
}

inline uint64_t addFile(const StandInService& service, const std::string& session, uint64_t parent,
                        const std::string& token, uint64_t size) {
    auto builder = corvane::service::test::messageBuilder();
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
    const Response answer = ask(service, session, corvane::service::test::sizePrefixedMessage(builder));
    const auto* response = answer.as<AddNodesResponse>("ADNR");
    if (!response || response->error() != 0 || !response->nodes() || response->nodes()->size() != 1) return 0;
    return response->nodes()->Get(0)->handle();
}

inline std::string downloadLink(const StandInService& service, const std::string& session, uint64_t node) {
    auto builder = corvane::service::test::messageBuilder();
    FinishSizePrefixedDownloadMessageBuffer(builder, CreateDownloadMessage(builder, node));
    const Response answer = ask(service, session, corvane::service::test::sizePrefixedMessage(builder));
    const auto* response = answer.as<DownloadResponse>("DOWR");
    return response && response->error() == 0 && response->link() ? response->link()->str() : std::string();
}

}  // namespace bare

struct BareRates {
    double blake2b = 0, aesCtr = 0, curlUpload = 0, curlDownload = 0;  // MB/s, 0 when not measured

    double slowestUpload() const { return std::min({blake2b, aesCtr, curlUpload}); }
    double slowestDownload() const { return std::min({blake2b, aesCtr, curlDownload}); }
};

// One round of every bare rate over `chunks` MiB, the curl tool's against the session's account
// of the stand-in, under `parent` (a folder or root of that account).
inline BareRates measureBareRates(const corvane::service::StandInService& service, const std::string& session,
                                  uint64_t parent, size_t chunks) {
    BareRates rates;
    const size_t total = chunks * kBareChunk;
    rates.blake2b = blake2bRate(total);
    rates.aesCtr = aesCtrRate(total);
    const std::string warm = bare::uploadLink(service, session, kBareChunk, parent);
    const std::string link = bare::uploadLink(service, session, total, parent);
    if (warm.empty() || link.empty()) return rates;
    std::string token;
    rates.curlUpload = curlUploadRate(warm, link, chunks, &token);
    const uint64_t node = token.empty() ? 0 : bare::addFile(service, session, parent, token, total);
    const std::string content = node ? bare::downloadLink(service, session, node) : std::string();
    if (!content.empty()) rates.curlDownload = curlDownloadRate(content, chunks - 1);
    return rates;
}

}  // namespace corvane::bench
