// Throughput of the HTTP module (libcurl transport on the libuv HTTP loop) against the
// curl command-line tool, both moving 256 MiB over loopback TLS to the stand-in service.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include <unistd.h>

#include "http/curl_http.h"
#include "loop/libuv_loop.h"
#include "stand_in_service.h"
#include "util/deployment.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kBytes = size_t(256) << 20;

class Completion : public corvane::HttpListener {
public:
    void onHttpRequestFinished(corvane::HttpRequest* request) override { done_.set_value(request->status); }
    int32_t wait() { return done_.get_future().get(); }

private:
    std::promise<int32_t> done_;
};

double seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Seconds for one exchange through the module; negative on failure.
double moduleExchange(corvane::CurlHttp& transport, const std::string& url, std::vector<uint8_t> body,
                      size_t expectedAnswer) {
    corvane::HttpRequest request;
    Completion completion;
    request.name = "bench";
    request.url = url;
    request.body = std::move(body);
    request.maxRetries = 1;
    request.listener = &completion;
    auto start = Clock::now();
    transport.send(&request);
    int32_t status = completion.wait();
    double elapsed = seconds(start);
    if (status != 200 || (expectedAnswer && request.buffer.size() != expectedAnswer)) {
        std::fprintf(stderr, "module exchange to %s failed: status %d, %u bytes\n", url.c_str(), status,
                     request.buffer.size());
        return -1;
    }
    return elapsed;
}

// Seconds for the same exchange through the curl tool; negative on failure.
double toolExchange(const std::string& arguments) {
    std::string command = "curl -s -S --fail -o /dev/null " + arguments;
    auto start = Clock::now();
    int rc = std::system(command.c_str());
    double elapsed = seconds(start);
    if (rc != 0) {
        std::fprintf(stderr, "curl failed (%d): %s\n", rc, command.c_str());
        return -1;
    }
    return elapsed;
}

void report(const char* what, double module, double tool) {
    double mib = double(kBytes) / (1 << 20);
    if (module <= 0 || tool <= 0) {
        std::printf("%-9s  not measured\n", what);
        return;
    }
    std::printf("%-9s  module %8.1f MiB/s   curl tool %8.1f MiB/s   module/tool %.2f\n", what, mib / module,
                mib / tool, tool / module);
}

}  // namespace

int main() {
    corvane::service::StandInService service;
    if (!service.start()) {
        std::fprintf(stderr, "stand-in service did not start\n");
        return 1;
    }
    corvane::Deployment deployment = corvane::getDeployment();
    deployment.caFile = service.certificatePath();
    corvane::setDeployment(deployment);

    corvane::CurlHttp::initialize();
    corvane::LibuvLoop httpLoop;
    httpLoop.start();
    auto transport = std::make_unique<corvane::CurlHttp>(&httpLoop, nullptr, nullptr);

    const std::string dataUrl = service.baseUrl() + "/data/" + std::to_string(kBytes);
    const std::string sinkUrl = service.baseUrl() + "/sink";
    const std::string tls = "--cacert '" + service.certificatePath() + "' ";

    std::vector<uint8_t> payload(kBytes);
    for (size_t i = 0; i < kBytes; ++i) {
        payload[i] = static_cast<uint8_t>((i * 7 + 3) & 0xFF);
    }
    std::string payloadFile = "/tmp/corvane_http_bench_" + std::to_string(::getpid());
    {
        std::ofstream out(payloadFile, std::ios::binary);
        out.write(reinterpret_cast<const char*>(payload.data()), static_cast<std::streamsize>(payload.size()));
    }

    // One small exchange first so that both sides start from a warm server.
    moduleExchange(*transport, service.baseUrl() + "/data/16", {}, 16);

    double moduleDownload = moduleExchange(*transport, dataUrl, {}, kBytes);
    double toolDownload = toolExchange(tls + "-d '' '" + dataUrl + "'");
    double moduleUpload = moduleExchange(*transport, sinkUrl, payload, 0);
    double toolUpload = toolExchange(tls + "-H 'Content-Type: application/octet-stream' -H 'Expect:' --data-binary '@" +
                                     payloadFile + "' '" + sinkUrl + "'");
    std::remove(payloadFile.c_str());

    std::printf("256 MiB over loopback TLS to the stand-in service\n");
    report("download", moduleDownload, toolDownload);
    report("upload", moduleUpload, toolUpload);

    httpLoop.stop();
    httpLoop.join();
    transport.reset();
    corvane::CurlHttp::cleanup();
    service.stop();
    return 0;
}
