#include "http/http_module.h"

#include <cstdlib>

#include "http/retry_policy.h"
#include "http/url_mask.h"
#include "util/log.h"

namespace corvane {

namespace {

std::atomic<int32_t> nextSendId{1};

}  // namespace

HttpModule::HttpModule(Loop* workLoop, HttpListener* moduleListener, TaskManager* callbackLoop)
    : Module(workLoop), loop_(workLoop), moduleListener_(moduleListener), callbackLoop_(callbackLoop) {
}

HttpModule::~HttpModule() = default;

void HttpModule::send(HttpRequest* request) {
    request->sendId = nextSendId++;
    int32_t state = request->state;
    if (state != HttpRequest::kIdle && state != HttpRequest::kStarting && state != HttpRequest::kClosed) {
        CLOG_ERROR("[net][{}]{}: Resending ongoing request!", request->sendId.load(), request->name);
    }
    CLOG_DEBUG("[net][{}]{}: Starting request", request->sendId.load(), request->name);
    request->state = HttpRequest::kStarting;
    execute([this, request]() { startOnLoop(request); });
}

void HttpModule::startOnLoop(HttpRequest* request) {
    CLOG_DEBUG("[net][{}]{}: Sending {} bytes to {}", request->sendId.load(), request->name, request->body.size(),
               maskUrlSecrets(request->url));
    if (request->retrying) {
        CLOG_ERROR("[net][{}]{}: Retrying request is being sent!", request->sendId.load(), request->name);
        // The pending retry would start a second transfer on the same record.
        loop_->removeTimer(request->retryTimer);
        request->retryTimer = loop_->getInvalidTimer();
        request->retrying = false;
    } else if (!request->transportData) {
        if (request->state == HttpRequest::kClosed) {
            CLOG_DEBUG("[net][{}]{}: Request cancelled during initialization", request->sendId.load(), request->name);
            return;
        }
        if (request->state != HttpRequest::kStarting) {
            CLOG_WARN("[net][{}]{}: Wrong request status during initialization!", request->sendId.load(),
                      request->name);
            return;
        }
    } else {
        CLOG_ERROR("[net][{}]{}: Sending request with private data still set!", request->sendId.load(), request->name);
    }
    clearAnswer(request);
    request->retries = 0;
    sendHttpRequest(request);
}

void HttpModule::clearAnswer(HttpRequest* request) {
    request->responseHeaders.clear();
    request->originalLength = -1;
    // Back to unbounded: a ring sized by an earlier answer's announced length would hold a
    // longer unannounced answer back for ever, since nobody reads it before the end.
    request->buffer.setCapacity(0);
    request->status = 0;
    request->answerRefused = false;
}

void HttpModule::onHttpRequestFinished(HttpRequest* request) {
    const int32_t sendId = request->sendId;
    const std::string& name = request->name;
    int32_t status = request->status;
    if (status == 200) {
        CLOG_DEBUG("[net][{}]{}: Request finished OK. Received {} bytes", sendId, name,
                   request->buffer.getTotalWritten());
        notifyFinished(request);
        return;
    }
    if (status == -1) {
        CLOG_DEBUG("[net][{}]{}: Request finished (cancelled)", sendId, name);
        notifyFinished(request);
        return;
    }
    request->retries += 1;
    CLOG_WARN("[net][{}]{}: Request failed with error {} ({} / {})", sendId, name, status, request->retries,
              request->maxRetries);
    if (request->answerRefused) {
        CLOG_ERROR("[net][{}]{}: Answer refused, not retried", sendId, name);
        notifyFinished(request);
        return;
    }
    switch (decideAfterAttempt(status, request->retries, request->maxRetries)) {
        case AttemptOutcome::Fatal:
            CLOG_ERROR("[net][{}]{}: Fatal request error {} ({})", sendId, name, status, fatalStatusText(status));
            notifyFinished(request);
            return;
        case AttemptOutcome::GiveUp:
            CLOG_WARN("[net][{}]{}: Max number of retries reached: ({} / {})", sendId, name, request->retries,
                      request->maxRetries);
            notifyFinished(request);
            return;
        default:
            break;
    }

    // The jitter is defined over 15 random bits; this platform's rand() gives 31.
    uint32_t delay = retryDelayMs(request->retries, std::rand() & 0x7FFF);
    CLOG_WARN("[net][{}]{}: The request will be retried in {} ms", sendId, name, delay);
    if (request->listener || moduleListener_) {
        int32_t retries = request->retries;
        HttpListener* moduleListener = moduleListener_;
        executeInLoop(callbackLoop_, [request, retries, status, moduleListener]() {
            if (moduleListener) {
                moduleListener->onHttpRequestRetry(request, retries, status);
            }
            if (HttpListener* listener = request->listener) {
                listener->onHttpRequestRetry(request, retries, status);
            }
        });
    }
    request->retrying = true;
    request->retryTimer = loop_->addTimer(delay, [this, request](TimerHandle) {
        request->retryTimer = loop_->getInvalidTimer();
        retryNow(request);
    });
}

void HttpModule::retryNow(HttpRequest* request) {
    CLOG_WARN("[net][{}]{}: Retrying... ({} / {}) {}", request->sendId.load(), request->name, request->retries,
              request->maxRetries, maskUrlSecrets(request->url));
    request->retrying = false;
    // Only the last attempt's answer may remain; the retry count goes on.
    clearAnswer(request);
    sendHttpRequest(request);
}

void HttpModule::notifyFinished(HttpRequest* request) {
    if (!request->listener && !moduleListener_) {
        return;
    }
    HttpListener* moduleListener = moduleListener_;
    // Read on the HTTP loop, where the exchange ended.
    const int32_t status = request->status;
    executeInLoop(callbackLoop_, [request, moduleListener, status]() {
        // The module listener first: the request's own listener may release the request or
        // send it again at once, after which it is no longer this exchange. A request without
        // a listener of its own may belong to the module listener, which may release it.
        HttpListener* listener = request->listener;
        if (moduleListener) {
            moduleListener->onHttpRequestEnded(request, status);
        }
        if (listener) {
            listener->onHttpRequestFinished(request);
        }
    });
}

void HttpModule::onHttpRequestProgress(HttpRequest* request, uint32_t downloaded, uint32_t uploaded,
                                       uint32_t downloadedDelta, uint32_t uploadedDelta) {
    if (uploadedDelta) {
        uploadMeter_.addBytes(uploadedDelta);
    }
    if (downloadedDelta) {
        downloadMeter_.addBytes(downloadedDelta);
    }
    if (!request->listener && !moduleListener_) {
        return;
    }
    HttpListener* moduleListener = moduleListener_;
    executeInLoop(callbackLoop_, [=]() {
        if (moduleListener) {
            moduleListener->onHttpRequestProgress(request, downloaded, uploaded, downloadedDelta, uploadedDelta);
        }
        if (HttpListener* listener = request->listener) {
            listener->onHttpRequestProgress(request, downloaded, uploaded, downloadedDelta, uploadedDelta);
        }
    });
}

void HttpModule::cancel(HttpRequest* request) {
    CLOG_DEBUG("[net][{}]{}: Cancelling request", request->sendId.load(), request->name);
    execute([this, request]() { cancelOnLoop(request); });
}

void HttpModule::cancelOnLoop(HttpRequest* request) {
    const int32_t sendId = request->sendId;
    if (request->retrying) {
        CLOG_DEBUG("[net][{}]{}: Cancelling a retrying request", sendId, request->name);
        loop_->removeTimer(request->retryTimer);
        request->retryTimer = loop_->getInvalidTimer();
        request->retrying = false;
        request->status = -1;
        request->state = HttpRequest::kClosed;
        onHttpRequestFinished(request);
        return;
    }
    int32_t state = request->state;
    if (state != HttpRequest::kIdle && state != HttpRequest::kClosed) {
        CLOG_DEBUG("[net][{}]{}: Cancelling an ongoing request", sendId, request->name);
        // Set before the abort: its end notification may already run on the callback loop
        // once abort has returned.
        request->retrying = false;
        request->status = -1;
        request->state = HttpRequest::kClosed;
        abortHttpRequest(request);
        return;
    }
    CLOG_DEBUG("[net][{}]{}: Request already closed", sendId, request->name);
}

void HttpModule::setProxy(std::unique_ptr<ProxySettings> proxy) {
    // Held by a shared holder so that a task the loop drops does not leak the settings.
    auto holder = std::make_shared<std::unique_ptr<ProxySettings>>(std::move(proxy));
    execute([this, holder]() {
        proxy_ = std::move(*holder);
        if (const ProxySettings* settings = proxy_.get()) {
            CLOG_INFO("[net] Setting Proxy to {}", maskUrlSecrets(settings->getHost()));
            if (settings->hasAuthentication()) {
                CLOG_INFO("[net] Proxy auth required. User size: {} Password size: {}", settings->getUser().size(),
                          settings->getPassword().size());
            } else {
                CLOG_INFO("[net] No proxy authentication required");
            }
        } else {
            CLOG_INFO("[net] Proxy removed");
        }
    });
}

void HttpModule::setUserAgent(const std::string& userAgent) {
    execute([this, userAgent]() {
        CLOG_INFO("[net] Setting User-Agent to {}", userAgent);
        userAgent_ = userAgent;
    });
}

}  // namespace corvane
