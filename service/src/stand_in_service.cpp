#include "stand_in_service.h"

#include <httplib.h>
#include <openssl/ssl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "account_directory.h"
#include "account_handlers.h"
#include "account_settings_handlers.h"
#include "batch_dispatcher.h"
#include "certificate.h"
#include "connection_watch.h"
#include "content_store.h"
#include "event_handlers.h"
#include "fault_plan.h"
#include "link_handlers.h"
#include "link_session_handlers.h"
#include "metadata_handlers.h"
#include "node_handlers.h"
#include "raw_bytes.h"
#include "request_log.h"
#include "session_handlers.h"
#include "test_handler.h"
#include "transfer_handlers.h"
#include "tree_handlers.h"
#include "worker_pool.h"

namespace corvane::service {

namespace {

constexpr const char* kLoopback = "127.0.0.1";
constexpr const char* kContentType = "application/octet-stream";
constexpr const char* kOriginalLengthHeader = "corvane-original-content-length";
constexpr const char* kSinkPath = "/sink";
constexpr std::chrono::milliseconds kDefaultPollTimeout{30000};
// Every connection being served holds a worker, so the pool grows with the connections (long
// polls, idle keep-alive ones, slow senders) up to a bound; long polls have a bound of their own
// below it, so that batches always find workers.
constexpr size_t kCoreWorkers = 8;
constexpr size_t kMaxWorkers = 512;
constexpr std::chrono::milliseconds kWorkerIdleTime{10000};
constexpr int kMaxOpenPolls = 256;
// An idle keep-alive connection gives its worker back after this long.
constexpr time_t kKeepAliveSeconds = 2;
constexpr size_t kProviderChunk = 64 * 1024;
// A client that pauses a download (bounded buffer, speed limit) must not be cut off early.
constexpr time_t kWriteTimeoutSeconds = 60;

bool hasPrefix(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

// An answer body: stored bytes, the deterministic data bytes produced while sending, or a range
// of a content file read while sending.
struct Body {
    std::string bytes;
    bool generated = false;
    uint64_t generatedLength = 0;  // also the length of a file range
    std::shared_ptr<ContentFile> file;
    uint64_t fileOffset = 0;

    static Body of(std::string bytes) { return Body{std::move(bytes), false, 0, nullptr, 0}; }
    static Body data(uint64_t length) { return Body{{}, true, length, nullptr, 0}; }
    static Body range(std::shared_ptr<ContentFile> file, uint64_t offset, uint64_t length) {
        return Body{{}, false, length, std::move(file), offset};
    }

    bool streamed() const { return generated || file; }
    uint64_t size() const { return streamed() ? generatedLength : bytes.size(); }
    bool fill(uint64_t offset, char* out, size_t length) const {
        if (file) return file->read(fileOffset + offset, out, length);
        if (generated)
            fillDataBytes(offset, out, length);
        else
            std::copy_n(bytes.data() + offset, length, out);
        return true;
    }
    std::string materialize() const {
        if (!file) return generated ? makeDataBytes(generatedLength) : bytes;
        std::string all(static_cast<size_t>(generatedLength), '\0');
        if (!fill(0, all.data(), all.size())) all.clear();
        return all;
    }
};

struct Answer {
    int status = 200;
    Body body;
    Fault fault{};                        // body faults to apply on the way out
    std::chrono::milliseconds spread{0};  // send the body in pieces spread over this time
};

// A request with the body this service read for it (httplib's own body stays empty for POST).
struct Incoming {
    const httplib::Request& request;
    std::string body;
    uint64_t bodySize = 0;
    std::optional<ChunkFault> chunkFault{};  // taken for an upload chunk before its body was read
};

// Answers with the status and then ends the connection: once the answer is out the server's
// next read sees the end of the stream, so whatever the client still sends is never read.
void refuseAndClose(const httplib::Request& request, httplib::Response& response, int status) {
    static const std::string kTooLarge = "Request body too large\n";
    static const std::string kUnreadable = "Request body unreadable\n";
    const std::string& text = status == 413 ? kTooLarge : kUnreadable;
    response.status = status;
    response.set_header("Connection", "close");
    const int fd = request.ssl ? SSL_get_fd(request.ssl) : -1;
    response.set_content_provider(
        text.size(), "text/plain",
        [&text](size_t offset, size_t length, httplib::DataSink& sink) {
            return sink.write(text.data() + offset, length);
        },
        // Runs once the answer has been written.
        [fd](bool) {
            if (fd >= 0) ::shutdown(fd, SHUT_RD);
        });
}

void ignoreBrokenPipes() {
    // Dropping a connection under the server makes its next write fail; without this the
    // process would die of SIGPIPE instead.
    struct sigaction current {};
    if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGPIPE, &ignore, nullptr);
    }
}

int alpnSelect(SSL*, const unsigned char** out, unsigned char* outLength, const unsigned char* in,
               unsigned int inLength, void*) {
    // HTTP/1.1 only: never agree to h2, even when the client offers nothing else.
    static const unsigned char kHttp11[] = {8, 'h', 't', 't', 'p', '/', '1', '.', '1'};
    unsigned char* selected = nullptr;
    if (SSL_select_next_proto(&selected, outLength, kHttp11, sizeof kHttp11, in, inLength) == OPENSSL_NPN_NEGOTIATED) {
        *out = selected;
        return SSL_TLSEXT_ERR_OK;
    }
    return SSL_TLSEXT_ERR_NOACK;
}

// The server, with a way to its listening socket: httplib listens with a backlog of 5, which a
// burst of new connections overflows (each then waits a second for its SYN to be sent again).
class Server : public httplib::SSLServer {
public:
    using httplib::SSLServer::SSLServer;

    bool deepenBacklog() { return ::listen(svr_sock_, SOMAXCONN) == 0; }
};

}  // namespace

struct StandInService::Impl {
    // Ties a TLS connection to its service from the start of its handshake, so that its reads
    // are watched and stop() can close it; freed with the SSL.
    struct ConnectionTag {
        Impl* impl;
        int fd;
    };

    std::unique_ptr<SelfSignedCertificate> certificate;
    std::string directory;  // private temporary folder holding the certificate file
    std::string certificateFile;
    bool keptCertificate = false;  // the file lives in the data directory and outlives the service

    std::unique_ptr<Server> server;
    std::thread thread;
    uint16_t port = 0;

    BatchDispatcher batch;
    AccountDirectory accounts;
    ContentStore contents;
    std::unique_ptr<TransferHandlers> transfers;
    std::unique_ptr<LinkSessionHandlers> linkSessions;

    mutable std::mutex mutex;
    std::condition_variable wake;  // stop, pending events
    bool stopping = false;
    FaultPlan faults;
    ChunkFaultPlan chunkFaults;
    RequestLog requests{kRecordedRequests, kRecordedBodyBytes};
    // The paths of the latest requests, for those who wait for requests to arrive.
    std::mutex arrivalMutex;
    std::condition_variable arrived;
    std::deque<std::string> arrivals;
    std::map<std::string, std::string> blobs;
    std::set<std::string> pendingEvents;
    std::chrono::milliseconds pollTimeout = kDefaultPollTimeout;
    ConnectionWatch watch;
    int openPolls = 0;
    uint64_t changeGeneration = 0;  // moves on whenever the accounts logged changes
    std::string dataDirectory;

    static int connectionIndex() {
        static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, &forgetConnection);
        return index;
    }

    static Impl* implOf(const SSL* ssl) { return static_cast<Impl*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl))); }

    static void onTlsInfo(const SSL* constSsl, int where, int) {
        SSL* ssl = const_cast<SSL*>(constSsl);
        Impl* impl = implOf(ssl);
        const int fd = SSL_get_fd(ssl);
        if (!impl || fd < 0) return;
        if (where & SSL_CB_HANDSHAKE_START) {
            if (SSL_get_ex_data(ssl, connectionIndex())) return;  // a renegotiation or TLS 1.3 repeat
            SSL_set_ex_data(ssl, connectionIndex(), new ConnectionTag{impl, fd});
            impl->watch.opened(fd);
        } else if (where & SSL_CB_HANDSHAKE_DONE) {
            impl->watch.idle(fd);
        }
    }

    // Every record header read: bytes of a request (or of the handshake) have arrived.
    static void onTlsMessage(int written, int, int contentType, const void*, size_t, SSL* ssl, void*) {
        if (written || contentType != SSL3_RT_HEADER) return;
        Impl* impl = implOf(ssl);
        const int fd = SSL_get_fd(ssl);
        if (impl && fd >= 0) impl->watch.reading(fd);
    }

    // Runs inside SSL_free, which the server calls before it closes the socket, so a watched
    // descriptor is always still open.
    static void forgetConnection(void*, void* data, CRYPTO_EX_DATA*, int, long, void*) {
        auto* tag = static_cast<ConnectionTag*>(data);
        if (!tag) return;
        tag->impl->watch.closed(tag->fd);
        delete tag;
    }

    static int descriptorOf(const httplib::Request& request) { return request.ssl ? SSL_get_fd(request.ssl) : -1; }

    void record(const Incoming& incoming) {
        const httplib::Request& request = incoming.request;
        RecordedRequest entry;
        entry.method = request.method;
        entry.path = request.path;
        const size_t question = request.target.find('?');
        if (question != std::string::npos) entry.query = request.target.substr(question + 1);
        for (const auto& header : request.headers)
            entry.headers.emplace_back(header.first, header.second);
        entry.body.assign(incoming.body, 0, std::min<size_t>(incoming.body.size(), kRecordedBodyBytes));
        entry.bodySize = incoming.bodySize;
        requests.add(std::move(entry));
        {
            std::lock_guard<std::mutex> lock(arrivalMutex);
            arrivals.push_back(request.path);
            if (arrivals.size() > kRecordedRequests) arrivals.pop_front();
        }
        arrived.notify_all();
    }

    // Runs once the headers are read, before any of the body: a body announced beyond the
    // limit (or with a length that is no number) is refused without reading it.
    httplib::Server::HandlerResponse admit(const httplib::Request& request, httplib::Response& response) {
        if (request.method != "POST") return httplib::Server::HandlerResponse::Unhandled;
        const bool announces = request.has_header("Content-Length");
        const auto announced = announces ? parseLength(request.get_header_value("Content-Length")) : std::nullopt;
        const bool within = announced && *announced <= kMaxBodyBytes;
        if (within || request.path == kSinkPath || !announces) {
            watch.receivingBody(descriptorOf(request), announced ? *announced : kMaxBodyBytes);
            return httplib::Server::HandlerResponse::Unhandled;
        }
        record(Incoming{request, {}, 0});
        refuseAndClose(request, response, announced ? 413 : 400);
        return httplib::Server::HandlerResponse::Handled;
    }

    // Reads a POST body itself, so that a body without a length (chunked, or up to the end of
    // the stream) meets the same limit; "/sink" only counts.
    void receive(const httplib::Request& request, httplib::Response& response, const httplib::ContentReader& content) {
        Incoming incoming{request, {}, 0};
        const bool counting = request.path == kSinkPath;
        bool tooLong = false;
        const auto chunk = parseChunkPath(request.path);
        if (chunk && chunk->upload) {
            std::lock_guard<std::mutex> lock(mutex);
            using Kind = ChunkFault::Kind;
            incoming.chunkFault =
                chunkFaults.take(ChunkFault::Link::Upload, chunk->first,
                                 {Kind::ServerError, Kind::Drop, Kind::NotFound, Kind::FlipByte, Kind::SlowBody});
        }
        const ChunkFault* fault = incoming.chunkFault ? &*incoming.chunkFault : nullptr;
        const uint64_t announced = chunk ? chunk->last - chunk->first + 1 : 0;
        if (chunk && chunk->upload) incoming.body.reserve(static_cast<size_t>(std::min(announced, kMaxBodyBytes)));
        bool dropped = false;
        const bool whole = content([&](const char* data, size_t length) {
            incoming.bodySize += length;
            if (counting) return true;
            if (incoming.bodySize > kMaxBodyBytes) {
                tooLong = true;
                return false;
            }
            incoming.body.append(data, length);
            if (fault && fault->kind == ChunkFault::Kind::Drop && incoming.bodySize * 2 >= announced) {
                dropped = true;
                return false;
            }
            if (fault && fault->kind == ChunkFault::Kind::SlowBody && announced > 0)
                pause(fault->slowFor, length, announced);
            return true;
        });
        if (dropped) {
            record(incoming);
            // Nothing more is read or answered: the client sees the connection end mid-body.
            if (request.ssl) ::shutdown(SSL_get_fd(request.ssl), SHUT_RDWR);
            return;
        }
        if (!whole) {
            record(incoming);
            refuseAndClose(request, response, tooLong ? 413 : 400);
            return;
        }
        handle(incoming, response);
    }

    // Waits the share of `spread` that `part` bytes of `total` take, or until the service stops.
    void pause(std::chrono::milliseconds spread, uint64_t part, uint64_t total) {
        const auto wait = std::chrono::milliseconds(static_cast<int64_t>(
            static_cast<double>(spread.count()) * static_cast<double>(part) / static_cast<double>(total)));
        std::unique_lock<std::mutex> lock(mutex);
        wake.wait_for(lock, wait, [this] { return stopping; });
    }

    void handle(const Incoming& incoming, httplib::Response& response) {
        const httplib::Request& request = incoming.request;
        const int fd = descriptorOf(request);
        watch.answering(fd);
        answer(incoming, response);
        watch.idle(fd);
    }

    void answer(const Incoming& incoming, httplib::Response& response) {
        const httplib::Request& request = incoming.request;
        record(incoming);
        std::optional<Fault> fault;
        {
            std::lock_guard<std::mutex> lock(mutex);
            fault = faults.take(request.path);
        }
        if (!fault) {
            Answer routed = route(incoming);
            const Fault own = routed.fault;
            send(response, std::move(routed), own);
            return;
        }
        if (fault->delay.count() > 0) {
            std::unique_lock<std::mutex> lock(mutex);
            wake.wait_for(lock, fault->delay, [this] { return stopping; });
        }
        if (fault->drop == Fault::Drop::BeforeHeaders) {
            // The server's own write of the answer then fails and it closes the connection.
            if (request.ssl) ::shutdown(SSL_get_fd(request.ssl), SHUT_RDWR);
            return;
        }
        if (fault->status != 0) {
            response.status = fault->status;
            if (!fault->body.empty()) response.set_content(fault->body, "application/octet-stream");
            return;
        }
        send(response, route(incoming), *fault);
    }

    Answer route(const Incoming& incoming) {
        const httplib::Request& request = incoming.request;
        const std::string& path = request.path;
        const bool post = request.method == "POST";
        if (path == "/api" && post) return answerBatch(incoming);
        if (hasPrefix(path, "/data/")) {
            const auto length = parseLength(path.substr(6));
            if (!length) return Answer{400, {}};
            return Answer{200, Body::data(*length)};
        }
        if (path == "/echo" && post) return Answer{200, Body::of(incoming.body)};
        if (path == kSinkPath && post) return Answer{200, Body::of(std::to_string(incoming.bodySize))};
        if (hasPrefix(path, "/blob/") && path.size() > 6) return answerBlob(path.substr(6), incoming);
        if (hasPrefix(path, "/events/") && post) return answerPoll(path.substr(8));
        if (const auto chunk = parseChunkPath(path)) {
            if (chunk->upload && post) return answerUploadChunk(*chunk, incoming);
            if (!chunk->upload) return answerDownloadChunk(*chunk);
        }
        if (hasPrefix(path, kMetadataUploadPath) && post)
            return answerMetadataUpload(path.substr(std::strlen(kMetadataUploadPath)), incoming);
        if (hasPrefix(path, kMetadataDownloadPath))
            return answerMetadataDownload(path.substr(std::strlen(kMetadataDownloadPath)));
        return Answer{404, {}};
    }

    // A metadata blob arrives whole in one request; the answer is its token, empty when the
    // body was not the size the slot was made for.
    Answer answerMetadataUpload(const std::string& id, const Incoming& incoming) {
        if (id.empty() || incoming.body.empty()) return Answer{400, {}};
        const auto outcome =
            contents.writeChunk(id, 0, incoming.body.size() - 1, incoming.body.data(), incoming.body.size());
        switch (outcome.result) {
            case ContentStore::ChunkResult::Complete:
                return Answer{200, Body::of(outcome.token)};
            case ContentStore::ChunkResult::Stored:
                return Answer{200, {}};
            case ContentStore::ChunkResult::UnknownUpload:
                return Answer{404, {}};
            case ContentStore::ChunkResult::BadRange:
                return Answer{416, {}};
            case ContentStore::ChunkResult::Failed:
                break;
        }
        return Answer{500, {}};
    }

    // A stored metadata blob, whole.
    Answer answerMetadataDownload(const std::string& content) {
        const auto size = contents.contentSize(content);
        if (!size) return Answer{404, {}};
        auto file = contents.openContent(content);
        if (!file) return Answer{500, {}};
        return Answer{200, Body::range(std::move(file), 0, *size)};
    }

    // An upload chunk: its bytes at their range; the answer is empty but for the chunk that
    // completes the upload, which gets the token.
    Answer answerUploadChunk(const ChunkPath& chunk, const Incoming& incoming) {
        using Kind = ChunkFault::Kind;
        const auto& fault = incoming.chunkFault;
        if (fault && fault->kind == Kind::ServerError) return Answer{500, {}};
        if (fault && fault->kind == Kind::NotFound) return Answer{404, {}};
        std::string damaged;
        const std::string* bytes = &incoming.body;
        if (fault && fault->kind == Kind::FlipByte && !incoming.body.empty()) {
            damaged = incoming.body;
            flipBodyByte(damaged.data(), damaged.size(), static_cast<int64_t>(damaged.size() / 2));
            bytes = &damaged;
        }
        const auto outcome = contents.writeChunk(chunk.id, chunk.first, chunk.last, bytes->data(), bytes->size());
        switch (outcome.result) {
            case ContentStore::ChunkResult::Stored:
                return Answer{200, {}};
            case ContentStore::ChunkResult::Complete: {
                if (outcome.completedNow) {
                    std::lock_guard<std::mutex> lock(mutex);
                    if (chunkFaults.take(ChunkFault::Link::Upload, chunk.first, {Kind::NoToken}))
                        return Answer{200, {}};
                }
                return Answer{200, Body::of(outcome.token)};
            }
            case ContentStore::ChunkResult::UnknownUpload:
                return Answer{404, {}};
            case ContentStore::ChunkResult::BadRange:
                return Answer{416, {}};
            case ContentStore::ChunkResult::Failed:
                break;
        }
        return Answer{500, {}};
    }

    // A download chunk: exactly the bytes of its range, read from the content file as they go out.
    Answer answerDownloadChunk(const ChunkPath& chunk) {
        using Kind = ChunkFault::Kind;
        const auto size = contents.contentSize(chunk.id);
        if (!size) return Answer{404, {}};
        if (chunk.last >= *size) return Answer{416, {}};
        auto file = contents.openContent(chunk.id);
        if (!file) return Answer{500, {}};
        std::optional<ChunkFault> fault;
        {
            std::lock_guard<std::mutex> lock(mutex);
            fault = chunkFaults.take(
                ChunkFault::Link::Download, chunk.first,
                {Kind::ServerError, Kind::Drop, Kind::NotFound, Kind::FlipByte, Kind::ShortBody, Kind::SlowBody});
        }
        const uint64_t length = chunk.last - chunk.first + 1;
        if (fault && fault->kind == Kind::ServerError) return Answer{500, {}};
        if (fault && fault->kind == Kind::NotFound) return Answer{404, {}};
        Answer answer{200, Body::range(std::move(file), chunk.first, length)};
        if (!fault) return answer;
        switch (fault->kind) {
            case Kind::Drop:
                answer.fault.cutAfter = static_cast<int64_t>(length / 2);
                break;
            case Kind::FlipByte:
                answer.fault.flipByte = static_cast<int64_t>(length / 2);
                break;
            case Kind::ShortBody:
                answer.body.generatedLength = length / 2;
                break;
            case Kind::SlowBody:
                answer.spread = fault->slowFor;
                break;
            default:
                break;
        }
        return answer;
    }

    // A batch that names a session is answered inside that session's scope; once sessions
    // exist, one naming an unknown session is refused as a whole.
    Answer answerBatch(const Incoming& incoming) {
        std::unique_ptr<SessionScope> scope;
        if (incoming.request.has_param("s")) {
            scope = accounts.open(incoming.request.get_param_value("s"));
            if (!scope && accounts.checksSessions()) return Answer{403, {}};
        } else if (incoming.request.has_param("link")) {
            scope = linkSessions->open(incoming.request.get_param_value("link"));
            if (!scope && accounts.checksSessions()) return Answer{403, {}};
        }
        const Caller caller{incoming.request.remote_addr, incoming.request.get_header_value("User-Agent")};
        std::string answer;
        if (!batch.answer(incoming.body, answer, scope.get(), caller)) return Answer{400, {}};
        return Answer{200, Body::of(std::move(answer))};
    }

    Answer answerBlob(const std::string& name, const Incoming& incoming) {
        std::lock_guard<std::mutex> lock(mutex);
        if (incoming.request.method == "POST" && !incoming.body.empty()) {
            blobs[name] = incoming.body;
            return Answer{200, {}};
        }
        auto it = blobs.find(name);
        if (it == blobs.end()) return Answer{404, {}};
        return Answer{200, Body::of(it->second)};
    }

    // Waits for the token's events on the condition the events are announced on; beyond the
    // bound of open polls the client is told to come back later. A session's token has news
    // while changes it was not told of wait; those stay until its next status answer. The
    // accounts are asked without this lock held, since a batch handler holding theirs may
    // call into the service.
    Answer answerPoll(const std::string& token) {
        std::unique_lock<std::mutex> lock(mutex);
        if (pendingEvents.erase(token) > 0) return Answer{200, Body::of("1")};
        uint64_t seen = changeGeneration;
        lock.unlock();
        bool news = accounts.hasNews(token);
        lock.lock();
        if (news) return Answer{200, Body::of("1")};
        if (openPolls >= kMaxOpenPolls) return Answer{503, {}};
        ++openPolls;
        const auto deadline = std::chrono::steady_clock::now() + pollTimeout;
        while (!news) {
            const bool woken = wake.wait_until(
                lock, deadline, [&] { return stopping || pendingEvents.count(token) > 0 || changeGeneration != seen; });
            if (!woken || stopping || pendingEvents.count(token) > 0) break;
            seen = changeGeneration;
            lock.unlock();
            news = accounts.hasNews(token);
            lock.lock();
        }
        --openPolls;
        news = pendingEvents.erase(token) > 0 || news;
        return Answer{200, Body::of(news ? "1" : "0")};
    }

    void announceChanges() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            ++changeGeneration;
        }
        wake.notify_all();
    }

    // Sends the answer with the body faults applied. A flipped byte damages the content itself,
    // before any gzip encoding, so the damage survives decoding.
    void send(httplib::Response& response, Answer answer, const Fault& fault) {
        response.status = answer.status;
        Body body = std::move(answer.body);
        const std::chrono::milliseconds spread = answer.spread;
        int64_t flipByte = fault.flipByte;
        if (fault.gzip) {
            std::string decoded = body.materialize();
            flipBodyByte(decoded.data(), decoded.size(), flipByte);
            flipByte = -1;
            const int64_t announced =
                fault.announcedLength >= 0 ? fault.announcedLength : static_cast<int64_t>(decoded.size());
            response.set_header("Content-Encoding", "gzip");
            response.set_header(kOriginalLengthHeader, std::to_string(announced));
            body = Body::of(gzipEncode(decoded));
        }
        const int64_t cutAfter = fault.drop == Fault::Drop::AfterHeaders ? 0 : fault.cutAfter;
        if (!body.streamed() && cutAfter < 0 && spread.count() == 0) {
            flipBodyByte(body.bytes.data(), body.bytes.size(), flipByte);
            response.set_content(body.bytes, kContentType);
            return;
        }
        const uint64_t total = body.size();
        const uint64_t limit = cutAfter >= 0 ? std::min<uint64_t>(static_cast<uint64_t>(cutAfter), total) : total;
        auto shared = std::make_shared<Body>(std::move(body));
        response.set_content_provider(
            static_cast<size_t>(total), kContentType,
            [this, shared, limit, flipByte, spread, total](size_t offset, size_t length, httplib::DataSink& sink) {
                // Returning false with bytes still owed makes the server close the connection.
                if (offset >= limit) return false;
                const size_t count = static_cast<size_t>(std::min<uint64_t>({length, limit - offset, kProviderChunk}));
                if (spread.count() > 0) pause(spread, count, total);
                std::string chunk(count, '\0');
                if (!shared->fill(offset, chunk.data(), count)) return false;
                flipBodyByte(chunk.data(), count, flipByte, offset);
                return sink.write(chunk.data(), count);
            });
    }

    bool listen(uint16_t requestedPort) {
        auto created = std::make_unique<Server>(certificate->certificate(), certificate->key());
        if (!created->is_valid()) return false;
        SSL_CTX* context = created->ssl_context();
        SSL_CTX_set_app_data(context, this);
        SSL_CTX_set_info_callback(context, &Impl::onTlsInfo);
        SSL_CTX_set_msg_callback(context, &Impl::onTlsMessage);
        SSL_CTX_set_alpn_select_cb(context, &alpnSelect, nullptr);
        connectionIndex();

        created->new_task_queue = [] { return new WorkerPool(kCoreWorkers, kMaxWorkers, kWorkerIdleTime); };
        created->set_keep_alive_max_count(1000);
        created->set_keep_alive_timeout(kKeepAliveSeconds);
        // Small answers must not wait for delayed ACKs (about 40 ms per round trip on loopback).
        created->set_tcp_nodelay(true);
        created->set_write_timeout(kWriteTimeoutSeconds, 0);
        created->set_pre_routing_handler(
            [this](const httplib::Request& request, httplib::Response& response) { return admit(request, response); });
        created->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
            handle(Incoming{request, {}, 0}, response);
        });
        created->Post(".*", [this](const httplib::Request& request, httplib::Response& response,
                                   const httplib::ContentReader& content) { receive(request, response, content); });

        if (requestedPort == 0) {
            const int bound = created->bind_to_any_port(kLoopback);
            if (bound <= 0) return false;
            port = static_cast<uint16_t>(bound);
        } else {
            if (!created->bind_to_port(kLoopback, requestedPort)) return false;
            port = requestedPort;
        }
        if (!created->deepenBacklog()) return false;
        httplib::SSLServer* raw = created.get();
        auto exited = std::make_shared<std::atomic<bool>>(false);
        thread = std::thread([raw, exited] {
            raw->listen_after_bind();
            *exited = true;
        });
        // stop() can only interrupt a server that has entered its accept loop.
        while (!raw->is_running() && !*exited)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (*exited) {
            thread.join();
            return false;
        }
        server = std::move(created);
        return true;
    }

    bool writeCertificateFile() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/corvane-service-XXXXXX";
        if (!mkdtemp(pattern.data())) return false;
        directory = pattern;
        certificateFile = directory + "/certificate.pem";
        const std::string pem = certificate->certificatePem();
        FILE* file = std::fopen(certificateFile.c_str(), "wb");
        if (!file) return false;
        const bool written = std::fwrite(pem.data(), 1, pem.size(), file) == pem.size();
        return std::fclose(file) == 0 && written && !pem.empty();
    }

    // A data directory keeps the certificate and its key beside the store, so that a restart
    // serves the same key and clients keep their pin: taken from there when present, else this
    // service's are saved there. Files that are present but unusable are left alone and the
    // service will not start.
    void keepCertificateIn(const std::string& dataDirectory) {
        const std::string keptFile = dataDirectory + "/certificate.pem";
        const std::string keyFile = dataDirectory + "/key.pem";
        struct stat info;
        const bool present = ::stat(keptFile.c_str(), &info) == 0 || ::stat(keyFile.c_str(), &info) == 0;
        if (present) {
            certificate = SelfSignedCertificate::load(keptFile, keyFile);
        } else if (certificate && !certificate->save(keptFile, keyFile)) {
            certificate.reset();
        }
        if (!certificateFile.empty()) ::unlink(certificateFile.c_str());
        if (!directory.empty()) ::rmdir(directory.c_str());
        directory.clear();
        certificateFile = keptFile;
        keptCertificate = true;
    }
};

StandInService::StandInService() : impl_(std::make_unique<Impl>()) {
    impl_->batch.setHandler("TESM", &answerTestMessage);
    registerNodeHandlers(impl_->batch);
    registerMetadataHandlers(impl_->batch);
    registerLinkHandlers(impl_->batch);
    registerSessionHandlers(impl_->batch, impl_->accounts);
    registerAccountHandlers(impl_->batch, impl_->accounts);
    registerAccountSettingsHandlers(impl_->batch, impl_->accounts);
    Impl* impl = impl_.get();
    registerEventHandlers(impl_->batch,
                          [impl] { return std::string("https://") + kLoopback + ":" + std::to_string(impl->port); });
    registerTreeHandlers(impl_->batch,
                         [impl] { return std::string("https://") + kLoopback + ":" + std::to_string(impl->port); });
    impl_->accounts.setChangeListener([impl] { impl->announceChanges(); });
    // After the node handlers: the transfer rules wrap AddNodes.
    impl_->transfers = std::make_unique<TransferHandlers>(impl_->contents, impl_->accounts, [impl] {
        return std::string("https://") + kLoopback + ":" + std::to_string(impl->port);
    });
    impl_->transfers->registerWith(impl_->batch);
    registerMetadataTransferHandlers(impl_->batch, impl_->contents, [impl] {
        return std::string("https://") + kLoopback + ":" + std::to_string(impl->port);
    });
    // Last: a link session's limits wrap the node, tree, transfer and event handlers.
    impl_->linkSessions = std::make_unique<LinkSessionHandlers>(impl_->accounts);
    impl_->linkSessions->registerWith(impl_->batch);
    impl_->certificate = SelfSignedCertificate::generate();
    if (impl_->certificate && !impl_->writeCertificateFile()) impl_->certificate.reset();
}

StandInService::~StandInService() {
    stop();
    if (!impl_->keptCertificate && !impl_->certificateFile.empty()) ::unlink(impl_->certificateFile.c_str());
    if (!impl_->directory.empty()) ::rmdir(impl_->directory.c_str());
}

bool StandInService::start(uint16_t port) {
    Impl& impl = *impl_;
    if (impl.server) return true;
    if (!impl.certificate) return false;
    ignoreBrokenPipes();
    std::string dataDirectory;
    {
        std::lock_guard<std::mutex> lock(impl.mutex);
        impl.stopping = false;
        dataDirectory = impl.dataDirectory;
    }
    if (!dataDirectory.empty() && !impl.accounts.openDirectory(dataDirectory)) return false;
    if (!impl.contents.isOpen() && !impl.contents.open(dataDirectory.empty() ? "" : dataDirectory + "/contents"))
        return false;
    impl.watch.start();
    if (!impl.listen(port)) {
        impl.watch.stop();
        return false;
    }
    return true;
}

void StandInService::stop() {
    Impl& impl = *impl_;
    if (!impl.server) return;
    {
        std::lock_guard<std::mutex> lock(impl.mutex);
        impl.stopping = true;
    }
    impl.watch.shutdownAll();
    impl.wake.notify_all();
    impl.server->stop();
    if (impl.thread.joinable()) impl.thread.join();
    impl.server.reset();
    impl.watch.stop();
    std::lock_guard<std::mutex> lock(impl.mutex);
    impl.stopping = false;
}

uint16_t StandInService::port() const {
    return impl_->port;
}

std::string StandInService::baseUrl() const {
    return std::string("https://") + kLoopback + ":" + std::to_string(impl_->port);
}

std::string StandInService::apiUrl() const {
    return baseUrl() + "/api";
}

std::string StandInService::pin() const {
    return impl_->certificate ? impl_->certificate->pin() : std::string();
}

std::string StandInService::certificatePath() const {
    return impl_->certificateFile;
}

void StandInService::setBatchHandler(const std::string& identifier, BatchHandler handler) {
    impl_->batch.setHandler(identifier, std::move(handler));
}

void StandInService::addFault(Fault fault) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->faults.add(std::move(fault));
}

void StandInService::clearFaults() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->faults.clear();
}

std::vector<RecordedRequest> StandInService::requests() const {
    return impl_->requests.entries();
}

void StandInService::clearRequests() {
    impl_->requests.clear();
}

bool StandInService::waitForRequests(const std::string& pathPrefix, size_t count, std::chrono::milliseconds timeout) {
    Impl& impl = *impl_;
    std::unique_lock<std::mutex> lock(impl.arrivalMutex);
    return impl.arrived.wait_for(lock, timeout, [&] {
        size_t seen = 0;
        for (const std::string& path : impl.arrivals)
            seen += hasPrefix(path, pathPrefix.c_str()) ? 1 : 0;
        return seen >= count;
    });
}

void StandInService::clearArrivals() {
    std::lock_guard<std::mutex> lock(impl_->arrivalMutex);
    impl_->arrivals.clear();
}

void StandInService::putBlob(const std::string& name, std::string bytes) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->blobs[name] = std::move(bytes);
}

std::string StandInService::getBlob(const std::string& name) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    auto it = impl_->blobs.find(name);
    return it == impl_->blobs.end() ? std::string() : it->second;
}

void StandInService::setEventsPending(const std::string& token) {
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->pendingEvents.insert(token);
    }
    impl_->wake.notify_all();
}

void StandInService::setPollTimeout(std::chrono::milliseconds timeout) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->pollTimeout = timeout;
}

void StandInService::setReadDeadline(std::chrono::milliseconds deadline) {
    impl_->watch.setReadDeadline(deadline);
}

void StandInService::setDataDirectory(const std::string& directory) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->dataDirectory = directory;
    impl_->keepCertificateIn(directory);
}

std::vector<std::string> StandInService::unknownMessages() const {
    return impl_->batch.unknownMessages();
}

AccountDirectory& StandInService::accounts() {
    return impl_->accounts;
}

std::string StandInService::answerAs(const std::string& sessionId, const std::string& message) {
    auto scope = impl_->accounts.open(sessionId);
    if (!scope) return {};
    return impl_->batch.answerMessage(message, scope.get());
}

void StandInService::addChunkFault(ChunkFault fault) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->chunkFaults.add(fault);
}

void StandInService::clearChunkFaults() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->chunkFaults.clear();
}

bool StandInService::setQuotaExceeded(uint64_t account, bool exceeded) {
    {
        auto scope = impl_->accounts.openWithoutSession();
        if (!scope->store().hasAccount(account)) return false;
    }
    impl_->transfers->setQuotaExceeded(account, exceeded);
    return true;
}

std::string StandInService::contentFile(uint64_t node) {
    std::optional<std::string> content;
    {
        auto scope = impl_->accounts.openWithoutSession();
        content = scope->store().nodeContent(node);
    }
    return content ? impl_->contents.contentPath(*content) : std::string();
}

}  // namespace corvane::service
