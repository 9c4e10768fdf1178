// Throughput of the HTTP module (libcurl transport on the libuv HTTP loop) against the curl
// command-line tool doing the same requests against the same loopback TLS stand-in: the
// chunk modes transfers use (256 requests of 1 MiB, one at a time and 4 at once, in both
// directions) and one 256 MiB answer and body.
//
// Both sides are timed over warm work only. The module first makes one request of the kind
// measured, then is timed over the rest. The tool is run twice with the same options, once
// for that single request and once for it plus the measured ones, and the first run's time
// is taken off the second's: process and shell start, reading its body file (from tmpfs),
// the first handshake and the first request fall out on its side as on the module's.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <unistd.h>

#include "http/curl_http.h"
#include "loop/libuv_loop.h"
#include "stand_in_service.h"
#include "util/deployment.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

constexpr size_t kChunk = size_t(1) << 20;
constexpr size_t kChunks = 256;
constexpr size_t kWhole = kChunk * kChunks;
constexpr size_t kParallel = 4;

double seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Finished records, handed from the HTTP loop to the bench thread.
class Finished : public corvane::HttpListener {
public:
    void onHttpRequestFinished(corvane::HttpRequest* request) override {
        std::lock_guard<std::mutex> lock(mutex_);
        done_.push_back(request);
        ready_.notify_one();
    }

    corvane::HttpRequest* next() {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [&] { return !done_.empty(); });
        corvane::HttpRequest* request = done_.front();
        done_.pop_front();
        return request;
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<corvane::HttpRequest*> done_;
};

struct Mode {
    const char* name;
    std::string url;
    const Bytes* body;     // null: an empty POST, as downloads are
    size_t answer;         // expected answer length; 0: not checked
    size_t count;          // measured requests
    size_t width;          // requests in flight at once
    std::string toolBody;  // the tool's options for the same body
};

// Seconds for mode.count requests through the module, mode.width at a time, after one
// untimed request; negative on failure.
double moduleRun(corvane::CurlHttp& transport, const Mode& mode) {
    Finished finished;
    std::vector<std::unique_ptr<corvane::HttpRequest>> slots;
    for (size_t i = 0; i < mode.width; ++i) {
        auto request = std::make_unique<corvane::HttpRequest>();
        request->name = "bench";
        request->url = mode.url;
        if (mode.body) {
            request->body = *mode.body;
        }
        request->maxRetries = 1;
        request->listener = &finished;
        slots.push_back(std::move(request));
    }
    auto check = [&](corvane::HttpRequest* request) {
        if (request->status != 200 || (mode.answer && request->buffer.getTotalWritten() != mode.answer)) {
            std::fprintf(stderr, "module request to %s failed: status %d, %u bytes\n", mode.url.c_str(),
                         request->status, request->buffer.getTotalWritten());
            return false;
        }
        return true;
    };
    transport.send(slots[0].get());
    if (!check(finished.next())) {
        return -1;
    }

    const auto start = Clock::now();
    size_t sent = 0;
    for (; sent < std::min(mode.width, mode.count); ++sent) {
        transport.send(slots[sent].get());
    }
    bool ok = true;
    for (size_t done = 0; done < mode.count; ++done) {
        corvane::HttpRequest* request = finished.next();
        ok = check(request) && ok;
        if (sent < mode.count) {
            transport.send(request);
            ++sent;
        }
    }
    const double elapsed = seconds(start);
    return ok ? elapsed : -1;
}

double toolSeconds(const std::string& command) {
    const auto start = Clock::now();
    const int rc = std::system(command.c_str());
    const double elapsed = seconds(start);
    if (rc != 0) {
        std::fprintf(stderr, "curl failed (%d): %s\n", rc, command.c_str());
        return -1;
    }
    return elapsed;
}

// Seconds for the same requests through the curl tool (see the top of the file).
double toolRun(const std::string& tls, const Mode& mode) {
    std::string options = "curl -s -S --no-progress-meter --fail " + tls + mode.toolBody;
    if (mode.width > 1) {
        options += " --parallel --parallel-immediate --parallel-max " + std::to_string(mode.width);
    }
    // Numbered URLs (a query the stand-in ignores) make the tool repeat the request.
    auto command = [&](size_t requests) {
        return options + " '" + mode.url + "?[1-" + std::to_string(requests) + "]' > /dev/null";
    };
    const double one = toolSeconds(command(1));
    const double all = toolSeconds(command(mode.count + 1));
    if (one < 0 || all < 0) {
        return -1;
    }
    return all - one;
}

}  // namespace

// Arguments: rounds (3), a mode filter, "module".
int main(int argc, char** argv) {
    int rounds = 3;
    if (argc > 1) {
        rounds = std::max(1, std::atoi(argv[1]));
    }
    // Optional: the modes whose name holds this text, and "module" to leave the tool out
    // (for a profile of the module alone).
    const std::string only = argc > 2 ? argv[2] : "";
    const bool moduleOnly = argc > 3 && std::string(argv[3]) == "module";

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

    Bytes chunk(kChunk);
    for (size_t i = 0; i < chunk.size(); ++i) {
        chunk[i] = static_cast<uint8_t>((i * 7 + 3) & 0xFF);
    }
    Bytes whole;
    const char* const kWholeUpload = "upload 256 MiB whole body";
    if (std::string(kWholeUpload).find(only) != std::string::npos) {
        whole.reserve(kWhole);
        for (size_t i = 0; i < kChunks; ++i) {
            whole.insert(whole.end(), chunk.begin(), chunk.end());
        }
    }
    // The tool's bodies live on tmpfs, as the module's live in memory.
    const std::string prefix = "/dev/shm/corvane_http_bench_" + std::to_string(::getpid());
    const std::string chunkFile = prefix + "_chunk";
    const std::string wholeFile = prefix + "_whole";
    for (const auto& [path, bytes] : {std::make_pair(chunkFile, &chunk), std::make_pair(wholeFile, &whole)}) {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes->data()), static_cast<std::streamsize>(bytes->size()));
    }

    const std::string tls = "--cacert '" + service.certificatePath() + "' ";
    const std::string download = "-d ''";
    const std::string upload = "-H 'Content-Type: application/octet-stream' -H 'Expect:' --data-binary '@";
    const std::string chunkUrl = service.baseUrl() + "/data/" + std::to_string(kChunk);
    const std::string wholeUrl = service.baseUrl() + "/data/" + std::to_string(kWhole);
    const std::string sinkUrl = service.baseUrl() + "/sink";
    const std::vector<Mode> modes = {
        {"download 256 x 1 MiB, sequential", chunkUrl, nullptr, kChunk, kChunks, 1, download},
        {"download 256 x 1 MiB, 4 parallel", chunkUrl, nullptr, kChunk, kChunks, kParallel, download},
        {"upload 256 x 1 MiB, sequential", sinkUrl, &chunk, 0, kChunks, 1, upload + chunkFile + "'"},
        {"upload 256 x 1 MiB, 4 parallel", sinkUrl, &chunk, 0, kChunks, kParallel, upload + chunkFile + "'"},
        {"download 256 MiB whole answer", wholeUrl, nullptr, kWhole, 1, 1, download},
        {kWholeUpload, sinkUrl, &whole, 0, 1, 1, upload + wholeFile + "'"},
    };

    const double mib = double(kWhole) / (1 << 20);
    std::printf("256 MiB per mode over loopback TLS to the stand-in service, %d round(s)\n", rounds);
    std::printf("%-34s %24s %24s %18s\n", "", "module MiB/s", "curl tool MiB/s", "module/tool");
    for (const Mode& mode : modes) {
        if (!only.empty() && std::string(mode.name).find(only) == std::string::npos) {
            continue;
        }
        std::vector<double> ratios, moduleRates, toolRates;
        for (int round = 0; round < rounds; ++round) {
            const double module = moduleRun(*transport, mode);
            const double tool = moduleOnly ? module : toolRun(tls, mode);
            if (module <= 0 || tool <= 0) {
                continue;
            }
            moduleRates.push_back(mib / module);
            toolRates.push_back(mib / tool);
            ratios.push_back(tool / module);
        }
        if (ratios.empty()) {
            std::printf("%-34s not measured\n", mode.name);
            continue;
        }
        auto range = [](std::vector<double> values, const char* format) {
            std::sort(values.begin(), values.end());
            char text[64];
            std::snprintf(text, sizeof text, format, values.front(), values.back());
            return std::string(text);
        };
        std::printf("%-34s %24s %24s %18s\n", mode.name, range(moduleRates, "%.0f - %.0f").c_str(),
                    range(toolRates, "%.0f - %.0f").c_str(), range(ratios, "%.2f - %.2f").c_str());
        std::fflush(stdout);
    }
    std::remove(chunkFile.c_str());
    std::remove(wholeFile.c_str());

    httpLoop.stop();
    httpLoop.join();
    transport.reset();
    corvane::CurlHttp::cleanup();
    service.stop();
    return 0;
}
