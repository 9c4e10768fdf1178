#include "http/curl_http.h"

#include <cstring>
#include <mutex>
#include <string_view>

#include <openssl/ssl.h>
#include <openssl/x509.h>

#include "http/http_header_parser.h"
#include "http/url_mask.h"
#include "util/deployment.h"
#include "util/log.h"

namespace corvane {

namespace {

constexpr long kConnectTimeoutSeconds = 10;
constexpr long kKeepAliveIdleSeconds = 45;
constexpr long kKeepAliveIntervalSeconds = 60;
constexpr uint64_t kSpeedStepMs = 100;

// Process-wide state; the initialised flag and the handle are guarded by globalMutex.
std::mutex globalMutex;
bool initialised = false;
CURLSH* share = nullptr;

// libcurl may hold the lock of one data kind while it takes another, and it serialises each
// kind on its own, so every kind gets its own mutex.
std::mutex shareLocks[CURL_LOCK_DATA_LAST];

void lockShare(CURL*, curl_lock_data data, curl_lock_access, void*) {
    shareLocks[data].lock();
}

void unlockShare(CURL*, curl_lock_data data, void*) {
    shareLocks[data].unlock();
}

CURLSH* currentShare() {
    std::lock_guard<std::mutex> guard(globalMutex);
    return share;
}

bool debugLogging() {
    return log::enabled(log::Level::debug);
}

CurlContext* contextOf(void* userData) {
    return static_cast<CurlContext*>(static_cast<HttpRequest*>(userData)->transportData);
}

}  // namespace

CurlHttp::CurlHttp(Loop* httpLoop, HttpListener* moduleListener, TaskManager* callbackLoop)
    : HttpModule(httpLoop, moduleListener, callbackLoop),
      libcurlTimer_(httpLoop->getInvalidTimer()),
      speedTimer_(httpLoop->getInvalidTimer()),
      multi_(curl_multi_init()) {
    CLOG_DEBUG("Creating cURL network layer");
    curl_multi_setopt(multi_, CURLMOPT_SOCKETFUNCTION, &CurlHttp::socketFunction);
    curl_multi_setopt(multi_, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(multi_, CURLMOPT_TIMERFUNCTION, &CurlHttp::timerFunction);
    curl_multi_setopt(multi_, CURLMOPT_TIMERDATA, this);
    defaultHeaders_ = curl_slist_append(defaultHeaders_, "Content-Type: application/octet-stream");
    // An empty Expect header stops libcurl from waiting for 100-continue before the body.
    defaultHeaders_ = curl_slist_append(defaultHeaders_, "Expect:");
}

CurlHttp::~CurlHttp() {
    CLOG_DEBUG("Destroying cURL network layer");
    for (CurlContext* context : active_) {
        CLOG_ERROR("[net][{}]{}: Request active during cleanup. URL: {} Status: {}", context->request->sendId.load(),
                   context->request->name, maskUrlSecrets(context->request->url), context->request->state.load());
    }
    if (speedTimer_ != httpLoop()->getInvalidTimer()) {
        CLOG_ERROR("[net] Speed timer active during cleanup");
    }
    // The loop has stopped (its sockets and timers are gone with it): closing the cached
    // connections must not call back into it.
    curl_multi_setopt(multi_, CURLMOPT_SOCKETFUNCTION, nullptr);
    curl_multi_setopt(multi_, CURLMOPT_TIMERFUNCTION, nullptr);
    // Transfers still under way (a long poll at shutdown) are dropped with their handles; the
    // records stay with their owners.
    for (CurlContext* context : active_) {
        curl_multi_remove_handle(multi_, context->easy);
        curl_easy_cleanup(context->easy);
        context->request->transportData = nullptr;
        delete context;
    }
    active_.clear();
    paused_.clear();
    curl_multi_cleanup(multi_);
    curl_slist_free_all(defaultHeaders_);
    if (libcurlTimer_ != httpLoop()->getInvalidTimer()) {
        CLOG_ERROR("[net] cURL timer active during cleanup");
    }
}

void CurlHttp::initialize() {
    std::lock_guard<std::mutex> guard(globalMutex);
    if (initialised) {
        return;
    }
    CLOG_DEBUG("Global initialization of cURL");
    initialised = true;
    curl_global_init(CURL_GLOBAL_ALL);
    share = curl_share_init();
    curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &lockShare);
    curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &unlockShare);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_PSL);
    // No shared connection cache: libcurl does not support sharing connections between
    // transports that run on different threads. Each transport keeps its own.
}

void CurlHttp::cleanup() {
    std::lock_guard<std::mutex> guard(globalMutex);
    if (!initialised) {
        return;
    }
    CLOG_DEBUG("Global cleanup of cURL");
    initialised = false;
    curl_share_cleanup(share);
    share = nullptr;
    curl_global_cleanup();
}

void CurlHttp::sendHttpRequest(HttpRequest* request) {
    auto* context = new CurlContext(this, request, curl_easy_init());
    request->buffer.setSpaceCallback(
        [transport = this](void* spaceContext) {
            transport->onSpaceAvailable(static_cast<HttpRequest*>(spaceContext));
        },
        request);
    request->transportData = context;
    request->state = HttpRequest::kInTransfer;

    CURL* easy = context->easy;
    if (!userAgent_.empty()) {
        curl_easy_setopt(easy, CURLOPT_USERAGENT, userAgent_.c_str());
    }
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request->body.size()));
    curl_easy_setopt(easy, CURLOPT_URL, request->url.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, defaultHeaders_);
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    curl_easy_setopt(easy, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    if (!request->pinnedKey.empty()) {
        // The pin is what authenticates the service's API host.
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
        curl_easy_setopt(easy, CURLOPT_CAINFO, nullptr);
        curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
    } else {
        // Unpinned exchanges carry the session id too: the peer must prove who it is, with the
        // system's CA store plus the deployment's own CA file when one is set.
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
        context->caFile = getDeployment().caFile;
        if (!context->caFile.empty()) {
            // As the CA file, the extra certificates are part of what libcurl compares before
            // it reuses a connection or a TLS session; the system store joins them through the
            // context function.
            curl_easy_setopt(easy, CURLOPT_CAINFO, context->caFile.c_str());
            curl_easy_setopt(easy, CURLOPT_CA_CACHE_TIMEOUT, 0L);
            curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &CurlHttp::sslContextFunction);
            curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, context);
        }
    }
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CurlHttp::writeFunction);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, request);
    curl_easy_setopt(easy, CURLOPT_PRIVATE, request);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT, static_cast<long>(request->timeout));
    curl_easy_setopt(easy, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(easy, CURLOPT_TCP_KEEPIDLE, kKeepAliveIdleSeconds);
    curl_easy_setopt(easy, CURLOPT_TCP_KEEPINTVL, kKeepAliveIntervalSeconds);
    if (request->lowSpeedLimit && request->lowSpeedTime) {
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, static_cast<long>(request->lowSpeedTime));
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(request->lowSpeedLimit));
    }
    if (!request->pinnedKey.empty()) {
        curl_easy_setopt(easy, CURLOPT_PINNEDPUBLICKEY, request->pinnedKey.c_str());
    }
    if (CURLSH* shared = currentShare()) {
        curl_easy_setopt(easy, CURLOPT_SHARE, shared);
    }
    curl_easy_setopt(easy, CURLOPT_READFUNCTION, &CurlHttp::readFunction);
    curl_easy_setopt(easy, CURLOPT_READDATA, request);
    curl_easy_setopt(easy, CURLOPT_SEEKFUNCTION, &CurlHttp::seekFunction);
    curl_easy_setopt(easy, CURLOPT_SEEKDATA, request);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &CurlHttp::headerFunction);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, request);
    if (debugLogging()) {
        curl_easy_setopt(easy, CURLOPT_DEBUGFUNCTION, &CurlHttp::debugFunction);
        curl_easy_setopt(easy, CURLOPT_DEBUGDATA, request);
        curl_easy_setopt(easy, CURLOPT_VERBOSE, 1L);
    }
    if (proxy_) {
        curl_easy_setopt(easy, CURLOPT_PROXY, proxy_->getHost().c_str());
        if (proxy_->hasAuthentication()) {
            CLOG_DEBUG("Using proxy with authentication");
            curl_easy_setopt(easy, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_ANY));
            curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, proxy_->getUser().c_str());
            curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, proxy_->getPassword().c_str());
        } else {
            CLOG_DEBUG("Using proxy without authentication");
            curl_easy_setopt(easy, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_NONE));
        }
        curl_easy_setopt(easy, CURLOPT_HTTPPROXYTUNNEL, 1L);
    }
    if (request->freshConnection) {
        curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
        curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
    }

    active_.insert(context);
    curl_multi_add_handle(multi_, easy);
}

void CurlHttp::abortHttpRequest(HttpRequest* request) {
    auto* context = static_cast<CurlContext*>(request->transportData);
    if (!context) {
        return;
    }
    curl_multi_remove_handle(multi_, context->easy);
    curl_easy_cleanup(context->easy);
    releaseContext(context);
    request->status = -1;
    request->state = HttpRequest::kClosed;
    onHttpRequestFinished(request);
}

void CurlHttp::releaseContext(CurlContext* context) {
    HttpRequest* request = context->request;
    if (paused_.erase(context) && paused_.empty() && speedTimer_ != httpLoop()->getInvalidTimer()) {
        httpLoop()->removeTimer(speedTimer_);
        speedTimer_ = httpLoop()->getInvalidTimer();
    }
    active_.erase(context);
    delete context;
    // A reader that gives space back after the end has nothing to resume.
    request->buffer.setSpaceCallback(nullptr, nullptr);
    request->transportData = nullptr;
}

int CurlHttp::socketFunction(CURL*, curl_socket_t socket, int action, void* userData, void* socketData) {
    auto* self = static_cast<CurlHttp*>(userData);
    Loop* loop = self->httpLoop();
    switch (action) {
        case CURL_POLL_IN:
        case CURL_POLL_OUT:
        case CURL_POLL_INOUT: {
            int events = (action == CURL_POLL_IN ? kSocketReadable : 0) |
                         (action == CURL_POLL_OUT ? kSocketWritable : 0) |
                         (action == CURL_POLL_INOUT ? kSocketReadable | kSocketWritable : 0);
            // The loop keeps one poll per socket; the callback is only installed once.
            SocketCallback callback;
            if (!socketData) {
                callback = [self](uint64_t polled, int occurred) {
                    self->onSocketEvent(static_cast<curl_socket_t>(polled), occurred);
                };
                curl_multi_assign(self->multi_, socket, self);
            }
            loop->addSocket(static_cast<uint64_t>(socket), events, std::move(callback));
            break;
        }
        case CURL_POLL_REMOVE:
            if (socketData) {
                loop->removeSocket(static_cast<uint64_t>(socket));
                curl_multi_assign(self->multi_, socket, nullptr);
            }
            break;
        default:
            break;
    }
    return 0;
}

void CurlHttp::onSocketEvent(curl_socket_t socket, int events) {
    int flags =
        ((events & kSocketReadable) ? CURL_CSELECT_IN : 0) | ((events & kSocketWritable) ? CURL_CSELECT_OUT : 0);
    int running = 0;
    curl_multi_socket_action(multi_, socket, flags, &running);
    processFinishedRequests();
}

int CurlHttp::timerFunction(CURLM*, long timeoutMs, void* userData) {
    auto* self = static_cast<CurlHttp*>(userData);
    Loop* loop = self->httpLoop();
    if (self->libcurlTimer_ != loop->getInvalidTimer()) {
        loop->removeTimer(self->libcurlTimer_);
        self->libcurlTimer_ = loop->getInvalidTimer();
    }
    if (timeoutMs < 0) {
        return 0;
    }
    // libcurl must not be driven from inside its own timer callback: the action runs from
    // the loop's timer instead.
    self->libcurlTimer_ = loop->addTimer(static_cast<uint64_t>(timeoutMs), [self](TimerHandle) {
        self->libcurlTimer_ = self->httpLoop()->getInvalidTimer();
        self->onLibcurlTimer();
    });
    return 0;
}

void CurlHttp::onLibcurlTimer() {
    int running = 0;
    curl_multi_socket_action(multi_, CURL_SOCKET_TIMEOUT, 0, &running);
    processFinishedRequests();
}

void CurlHttp::processFinishedRequests() {
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
        if (message->msg != CURLMSG_DONE) {
            continue;
        }
        CURL* easy = message->easy_handle;
        CURLcode result = message->data.result;
        char* privateData = nullptr;
        curl_easy_getinfo(easy, CURLINFO_PRIVATE, &privateData);
        auto* request = reinterpret_cast<HttpRequest*>(privateData);
        auto* context = static_cast<CurlContext*>(request->transportData);
        long code = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code);
        // An answer the transport refused, or a 200 whose body did not arrive whole (cut
        // connection, time-out), is no answer: it must be retried, never taken as a success.
        bool incomplete = (context && context->rejected) || (result != CURLE_OK && code == 200);
        request->status = incomplete ? 0 : static_cast<int32_t>(code);
        if (debugLogging()) {
            logTimings(request, easy, result);
        }
        curl_multi_remove_handle(multi_, easy);
        curl_easy_cleanup(easy);
        if (context) {
            releaseContext(context);
        }
        request->state = HttpRequest::kClosed;
        onHttpRequestFinished(request);
    }
}

void CurlHttp::logTimings(HttpRequest* request, CURL* easy, CURLcode result) {
    const int32_t sendId = request->sendId;
    const std::string& name = request->name;
    double dns = 0, connect = 0, ssl = 0, start = 0, firstByte = 0, total = 0;
    curl_off_t upload = 0, download = 0;
    char* localIp = nullptr;
    curl_easy_getinfo(easy, CURLINFO_NAMELOOKUP_TIME, &dns);
    curl_easy_getinfo(easy, CURLINFO_CONNECT_TIME, &connect);
    curl_easy_getinfo(easy, CURLINFO_APPCONNECT_TIME, &ssl);
    curl_easy_getinfo(easy, CURLINFO_PRETRANSFER_TIME, &start);
    curl_easy_getinfo(easy, CURLINFO_STARTTRANSFER_TIME, &firstByte);
    curl_easy_getinfo(easy, CURLINFO_TOTAL_TIME, &total);
    curl_easy_getinfo(easy, CURLINFO_SPEED_UPLOAD_T, &upload);
    curl_easy_getinfo(easy, CURLINFO_SPEED_DOWNLOAD_T, &download);
    curl_easy_getinfo(easy, CURLINFO_LOCAL_IP, &localIp);
    CLOG_DEBUG("[net][{}]{}: URL: {}", sendId, name, maskUrlSecrets(request->url));
    CLOG_DEBUG("[net][{}]{}: TIME DNS: {} ({}) secs", sendId, name, dns, dns);
    CLOG_DEBUG("[net][{}]{}: TIME Connect: {} ({}) secs", sendId, name, connect, connect - dns);
    CLOG_DEBUG("[net][{}]{}: TIME SSL: {} ({}) secs", sendId, name, ssl, ssl - connect);
    CLOG_DEBUG("[net][{}]{}: TIME Start: {} ({}) secs", sendId, name, start, start - ssl);
    CLOG_DEBUG("[net][{}]{}: TIME First Byte: {} ({}) secs", sendId, name, firstByte, firstByte - start);
    CLOG_DEBUG("[net][{}]{}: TIME Transfer: {} ({}) secs", sendId, name, total, total - firstByte);
    CLOG_DEBUG("[net][{}]{}: SPEED Upload: {} Kb/sec", sendId, name, upload / 1000);
    CLOG_DEBUG("[net][{}]{}: SPEED Download: {} Kb/sec", sendId, name, download / 1000);
    CLOG_DEBUG("[net][{}]{}: Local IP: {}", sendId, name, localIp ? localIp : "");
    CLOG_DEBUG("[net][{}]{}: Result: {} ({})", sendId, name, static_cast<int>(result), curl_easy_strerror(result));
}

bool CurlHttp::pauseForSpeedLimit(CurlContext* context, SpeedMeter& meter, uint64_t limit, size_t incoming) {
    if (limit == 0) {
        return false;
    }
    if (speedTimer_ != httpLoop()->getInvalidTimer()) {
        paused_.insert(context);
        return true;
    }
    // The meter's window is one second, so the incoming bytes count fully towards its rate.
    if (meter.getSpeed() + incoming > limit) {
        paused_.insert(context);
        speedTimer_ = httpLoop()->addTimer(kSpeedStepMs, [this](TimerHandle) { resumePausedTransfers(); });
        return true;
    }
    return false;
}

size_t CurlHttp::writeFunction(char* data, size_t size, size_t count, void* userData) {
    auto* request = static_cast<HttpRequest*>(userData);
    CurlContext* context = contextOf(userData);
    CurlHttp* self = context->transport;
    size_t length = size * count;
    if (length == 0) {
        return 0;
    }
    uint64_t announced = request->originalLength;
    if (request->originalLength >= 0 && uint64_t(request->buffer.getTotalWritten()) + length > announced) {
        // Nothing reads a bounded answer before its end, so a body longer than announced would
        // wait in a full buffer until a time-out, or for ever.
        CLOG_ERROR("[net][{}]{}: Answer longer than announced ({} bytes), aborting", request->sendId.load(),
                   request->name, request->originalLength);
        context->rejected = true;
        return 0;
    }
    if (self->pauseForSpeedLimit(context, self->downloadMeter_, self->downloadLimit_, length)) {
        return CURL_WRITEFUNC_PAUSE;
    }
    if (!request->buffer.write(reinterpret_cast<const uint8_t*>(data), static_cast<uint32_t>(length))) {
        CLOG_DEBUG("[net][{}]{}: Pausing streaming transfer", request->sendId.load(), request->name);
        return CURL_WRITEFUNC_PAUSE;
    }
    context->downloaded += static_cast<uint32_t>(length);
    self->onHttpRequestProgress(request, context->downloaded, context->uploaded, static_cast<uint32_t>(length), 0);
    return length;
}

size_t CurlHttp::readFunction(char* data, size_t size, size_t count, void* userData) {
    auto* request = static_cast<HttpRequest*>(userData);
    CurlContext* context = contextOf(userData);
    CurlHttp* self = context->transport;
    size_t bodySize = request->body.size();
    if (bodySize < context->uploaded) {
        CLOG_ERROR("[net][{}]{}: Invalid upload progress. size: {} nitems: {} progress: {} datasize: {}",
                   request->sendId.load(), request->name, size, count, context->uploaded, bodySize);
        return CURL_READFUNC_ABORT;
    }
    size_t length = std::min(size * count, bodySize - context->uploaded);
    if (length == 0) {
        return 0;
    }
    if (self->pauseForSpeedLimit(context, self->uploadMeter_, self->uploadLimit_, length)) {
        return CURL_READFUNC_PAUSE;
    }
    std::memcpy(data, request->body.data() + context->uploaded, length);
    context->uploaded += static_cast<uint32_t>(length);
    self->onHttpRequestProgress(request, context->downloaded, context->uploaded, 0, static_cast<uint32_t>(length));
    return length;
}

int CurlHttp::seekFunction(void* userData, curl_off_t offset, int origin) {
    auto* request = static_cast<HttpRequest*>(userData);
    CurlContext* context = contextOf(userData);
    curl_off_t position;
    switch (origin) {
        case SEEK_SET:
            position = offset;
            break;
        case SEEK_CUR:
            position = static_cast<curl_off_t>(context->uploaded) + offset;
            break;
        case SEEK_END:
            position = static_cast<curl_off_t>(request->body.size()) + offset;
            break;
        default:
            CLOG_ERROR("[net][{}]{}: Invalid seek: {}", request->sendId.load(), request->name, origin);
            return CURL_SEEKFUNC_FAIL;
    }
    if (position < 0) {
        CLOG_ERROR("[net][{}]{}: Invalid seek: {}", request->sendId.load(), request->name, origin);
        return CURL_SEEKFUNC_FAIL;
    }
    uint32_t previous = context->uploaded;
    context->uploaded = static_cast<uint32_t>(position);
    if (context->uploaded != previous) {
        context->transport->onHttpRequestProgress(request, context->downloaded, context->uploaded, 0, 0);
    }
    return CURL_SEEKFUNC_OK;
}

size_t CurlHttp::headerFunction(char* data, size_t size, size_t count, void* userData) {
    auto* request = static_cast<HttpRequest*>(userData);
    CurlContext* context = contextOf(userData);
    size_t length = size * count;
    const int32_t sendId = request->sendId;
    HeaderLine line = parseHeaderLine(data, length);
    switch (line.kind) {
        case HeaderLine::Kind::EndOfHeaders: {
            CLOG_DEBUG("[net][{}]{}: HEADERS FINISHED", sendId, request->name);
            OriginalLength original = parseOriginalLength(request->responseHeaders);
            if (original.kind == OriginalLength::Kind::TooLarge) {
                CLOG_ERROR("[net][{}]{}: Announced length too large: {}", sendId, request->name,
                           request->responseHeaders[kOriginalLengthHeader]);
                context->rejected = true;
                // Asking again would bring the same answer, for ever.
                request->answerRefused = true;
                return 0;
            }
            if (original.kind == OriginalLength::Kind::Announced) {
                request->originalLength = static_cast<int32_t>(original.value);
                if (original.value > 0) {
                    request->buffer.setCapacity(static_cast<uint32_t>(original.value));
                }
            } else {
                curl_off_t length = -1;
                if (curl_easy_getinfo(context->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK &&
                    length > 0 && length <= kMaxOriginalLength) {
                    request->buffer.reserve(static_cast<uint32_t>(length));
                }
            }
            break;
        }
        case HeaderLine::Kind::Unprocessed:
            CLOG_WARN("[net][{}]{}: HEADER UNPROCESSED: {}", sendId, request->name, line.text);
            break;
        case HeaderLine::Kind::StatusLine:
            CLOG_DEBUG("[net][{}]{}: HEADERS START: {}", sendId, request->name, line.text);
            request->responseHeaders.clear();
            break;
        case HeaderLine::Kind::Field:
            CLOG_DEBUG("[net][{}]{}: HEADER: {}", sendId, request->name, line.text);
            request->responseHeaders[line.name] = line.value;
            break;
        case HeaderLine::Kind::Unstored:
            CLOG_DEBUG("[net][{}]{}: HEADER: {}", sendId, request->name, line.text);
            break;
    }
    return length;
}

int CurlHttp::debugFunction(CURL*, curl_infotype type, char* data, size_t size, void* userData) {
    if (type != CURLINFO_TEXT || size < 2) {
        return 0;
    }
    static constexpr std::string_view kExpire = "Expire in ";
    if (size > kExpire.size() && std::string_view(data, kExpire.size()) == kExpire) {
        return 0;
    }
    auto* request = static_cast<HttpRequest*>(userData);
    // libcurl's own lines may quote the URL.
    CLOG_DEBUG("[net][{}]{}: DF: {}", request->sendId.load(), request->name,
               maskUrlSecrets(std::string_view(data, size - 1)));
    return 0;
}

CURLcode CurlHttp::sslContextFunction(CURL*, void* sslContext, void* userData) {
    auto* context = static_cast<CurlContext*>(userData);
    X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(sslContext));
    if (!store || X509_STORE_set_default_paths(store) != 1) {
        CLOG_WARN("[net][{}]{}: Unable to add the system CA store", context->request->sendId.load(),
                  context->request->name);
    }
    return CURLE_OK;
}

void CurlHttp::resumePausedTransfers() {
    speedTimer_ = httpLoop()->getInvalidTimer();
    while (speedTimer_ == httpLoop()->getInvalidTimer() && !paused_.empty()) {
        CurlContext* context = *paused_.begin();
        paused_.erase(paused_.begin());
        curl_easy_pause(context->easy, CURLPAUSE_CONT);
    }
}

void CurlHttp::onSpaceAvailable(HttpRequest* request) {
    const int32_t sendId = request->sendId;
    execute([this, request, sendId]() {
        auto* context = static_cast<CurlContext*>(request->transportData);
        if (!context || !active_.count(context) || context->request != request || request->sendId != sendId) {
            return;
        }
        CLOG_DEBUG("[net][{}]{}: Resuming streaming transfer", sendId, request->name);
        curl_easy_pause(context->easy, CURLPAUSE_CONT);
    });
}

}  // namespace corvane
