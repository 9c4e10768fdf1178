#include "http/http_request.h"

namespace corvane {

namespace {

std::atomic<int32_t> nextRequestId{1};

}  // namespace

HttpRequest::HttpRequest() : id(nextRequestId++) {
}

}  // namespace corvane
