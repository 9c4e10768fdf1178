#include "stand_in_service.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <zlib.h>

#include <poll.h>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>

#include "batch_dispatcher.h"
#include "batch_framing.h"
#include "https_client.h"
#include "tls_socket.h"

namespace corvane::service {
namespace {

using test::Call;
using test::perform;
using test::Reply;
using namespace std::chrono_literals;

std::string dataBytes(size_t n) {
    std::string bytes(n, '\0');
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<char>((i * 7 + 3) & 0xFF);
    return bytes;
}

std::string sizePrefixed(const std::string& identifier, const std::string& payload) {
    // root offset 8 (past the identifier), the identifier, then the payload
    std::string buffer = std::string("\x08\0\0\0", 4) + identifier + payload;
    const auto n = static_cast<uint32_t>(buffer.size());
    return std::string{char(n & 0xFF), char((n >> 8) & 0xFF), char((n >> 16) & 0xFF), char(n >> 24)} + buffer;
}

std::string gunzip(const std::string& encoded) {
    z_stream stream{};
    if (inflateInit2(&stream, 15 + 16) != Z_OK) return "<inflate init failed>";
    std::string out;
    char buffer[16384];
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(encoded.data()));
    stream.avail_in = static_cast<uInt>(encoded.size());
    int result = Z_OK;
    while (result == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof buffer;
        result = inflate(&stream, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - stream.avail_out);
    }
    inflateEnd(&stream);
    return result == Z_STREAM_END ? out : "<not a whole gzip stream>";
}

std::string runCommand(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return output;
    char buffer[256];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    pclose(pipe);
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r'))
        output.pop_back();
    return output;
}

class StandInServiceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { curl_global_init(CURL_GLOBAL_ALL); }

    void SetUp() override { ASSERT_TRUE(service_.start()); }

    Reply post(const std::string& path, const std::string& body = {}) {
        Call call;
        call.url = service_.baseUrl() + path;
        call.body = body;
        call.caFile = service_.certificatePath();
        return perform(call);
    }

    Reply get(const std::string& path) {
        Call call;
        call.url = service_.baseUrl() + path;
        call.method = "GET";
        call.caFile = service_.certificatePath();
        return perform(call);
    }

    // Waits until the service has received `count` requests (a long poll is then open).
    bool waitForRequests(size_t count) {
        for (int i = 0; i < 500; ++i) {
            if (service_.requests().size() >= count) return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    StandInService service_;
};

TEST_F(StandInServiceTest, CertificateVerifiesAsCaForTheLoopbackAddressAndLocalhost) {
    EXPECT_EQ(service_.baseUrl(), "https://127.0.0.1:" + std::to_string(service_.port()));
    EXPECT_EQ(service_.apiUrl(), service_.baseUrl() + "/api");

    Reply byAddress = post("/echo", "x");
    EXPECT_EQ(byAddress.code, CURLE_OK) << curl_easy_strerror(byAddress.code);
    EXPECT_EQ(byAddress.status, 200);

    Call byName;
    const std::string port = std::to_string(service_.port());
    byName.url = "https://localhost:" + port + "/echo";
    byName.resolve = "localhost:" + port + ":127.0.0.1";
    byName.caFile = service_.certificatePath();
    EXPECT_EQ(perform(byName).code, CURLE_OK);

    // Verification is really on: another trust store refuses the certificate.
    Call untrusted = byName;
    untrusted.caFile = "/etc/ssl/certs/ca-certificates.crt";
    EXPECT_EQ(perform(untrusted).code, CURLE_PEER_FAILED_VERIFICATION);
}

TEST_F(StandInServiceTest, PinIsTheOneOpensslComputesFromTheCertificate) {
    const std::string path = service_.certificatePath();
    const std::string opensslPin = runCommand("openssl x509 -in '" + path +
                                              "' -pubkey -noout | openssl pkey -pubin -outform der"
                                              " | openssl dgst -sha256 -binary | openssl enc -base64");
    ASSERT_EQ(opensslPin.size(), 44u) << opensslPin;
    EXPECT_EQ(service_.pin(), "sha256//" + opensslPin);

    Call pinned;
    pinned.url = service_.apiUrl();
    pinned.pin = service_.pin();
    EXPECT_EQ(perform(pinned).code, CURLE_OK);
    pinned.pin = "sha256//Tq7vLm2XcR9sNw4KpZ1hYd6FbJ3gUe8oAi5rMx0tQn2=";
    EXPECT_EQ(perform(pinned).code, CURLE_SSL_PINNEDPUBKEYNOTMATCH);

    // Each instance has a key of its own.
    StandInService other;
    EXPECT_NE(other.pin(), service_.pin());
}

TEST_F(StandInServiceTest, RefusesHttp2ByAlpn) {
    Call call;
    call.url = service_.baseUrl() + "/echo";
    call.caFile = service_.certificatePath();
    call.httpVersion = CURL_HTTP_VERSION_2TLS;
    const Reply reply = perform(call);
    EXPECT_EQ(reply.code, CURLE_OK);
    EXPECT_EQ(reply.httpVersion, CURL_HTTP_VERSION_1_1);
}

TEST_F(StandInServiceTest, BatchAnswersEachMessageInOrder) {
    service_.setBatchHandler(
        "PRBM", [](const std::string& message) { return std::string("\x08\0\0\0", 4) + "PRBR" + message.substr(12); });
    service_.setBatchHandler("TOSM", [](const std::string& message) {
        return std::string("\x08\0\0\0", 4) + "TOSR" + message.substr(12) + message.substr(12);
    });
    struct Case {
        const char* name;
        std::string body;
        long status;
        std::string answer;
        std::vector<std::string> unknown;
    };
    const std::string placeholder("\x08\0\0\0\0\0\0\0????", 12);
    const std::vector<Case> cases = {
        {"two handlers, order kept",
         sizePrefixed("TOSM", "ab") + sizePrefixed("PRBM", "cdef") + sizePrefixed("TOSM", "g"),
         200,
         sizePrefixed("TOSR", "abab") + sizePrefixed("PRBR", "cdef") + sizePrefixed("TOSR", "gg"),
         {}},
        {"unknown identifier",
         sizePrefixed("XXXM", "") + sizePrefixed("PRBM", "z"),
         200,
         placeholder + sizePrefixed("PRBR", "z"),
         {"XXXM"}},
        {"too short for an identifier", std::string("\x02\0\0\0\0\0", 6), 200, placeholder, {""}},
        {"truncated series", sizePrefixed("PRBM", "abc").substr(0, 10), 400, "", {}},
        {"stray bytes after the last message", sizePrefixed("PRBM", "abc") + "\x01", 400, "", {}},
    };
    size_t unknownSoFar = 0;
    for (const auto& c : cases) {
        const Reply reply = post("/api?s=session&a=Wk9xQmLp", c.body);
        EXPECT_EQ(reply.status, c.status) << c.name;
        EXPECT_EQ(reply.body, c.answer) << c.name;
        const auto unknown = service_.unknownMessages();
        EXPECT_EQ(std::vector<std::string>(unknown.begin() + static_cast<long>(unknownSoFar), unknown.end()), c.unknown)
            << c.name;
        unknownSoFar = unknown.size();
    }
}

TEST_F(StandInServiceTest, RecordsEveryRequestInArrivalOrder) {
    Call call;
    call.url = service_.apiUrl() + "?s=abc&a=Wk9xQmLp";
    call.body = std::string("\x00\x01\x02", 3);
    call.headers["User-Agent"] = "Tembra test";
    perform(call);
    get("/data/3");
    const auto requests = service_.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].path, "/api");
    EXPECT_EQ(requests[0].query, "s=abc&a=Wk9xQmLp");
    EXPECT_EQ(requests[0].body, call.body);
    EXPECT_EQ(requests[0].bodySize, call.body.size());
    const auto& headers = requests[0].headers;
    auto has = [&headers](const std::string& name, const std::string& value) {
        for (const auto& header : headers)
            if (strcasecmp(header.first.c_str(), name.c_str()) == 0 && header.second == value) return true;
        return false;
    };
    EXPECT_TRUE(has("User-Agent", "Tembra test"));
    EXPECT_TRUE(has("Content-Type", "application/octet-stream"));
    EXPECT_EQ(requests[1].method, "GET");
    EXPECT_EQ(requests[1].path, "/data/3");
    EXPECT_EQ(requests[1].query, "");
    service_.clearRequests();
    EXPECT_TRUE(service_.requests().empty());
}

TEST_F(StandInServiceTest, RecordKeepsTheLatestRequestsWithTheirBodiesCut) {
    const size_t extra = 20;
    const std::string large = dataBytes(100000);
    CURL* reused = curl_easy_init();
    for (size_t i = 0; i < StandInService::kRecordedRequests + extra; ++i) {
        Call call;
        call.url = service_.baseUrl() + "/echo?n=" + std::to_string(i);
        call.body = i % 2 ? large : "small";
        call.caFile = service_.certificatePath();
        const Reply reply = perform(call, reused);
        ASSERT_EQ(reply.body, call.body) << i;  // answers stay whole
    }
    curl_easy_cleanup(reused);
    const auto requests = service_.requests();
    ASSERT_EQ(requests.size(), StandInService::kRecordedRequests);
    EXPECT_EQ(requests.front().query, "n=" + std::to_string(extra));
    EXPECT_EQ(requests.back().query, "n=" + std::to_string(StandInService::kRecordedRequests + extra - 1));
    for (const auto& request : requests) {
        if (request.bodySize == large.size()) {
            EXPECT_EQ(request.body, large.substr(0, StandInService::kRecordedBodyBytes));
        } else {
            EXPECT_EQ(request.body, "small");
            EXPECT_EQ(request.bodySize, 5u);
        }
    }
}

TEST_F(StandInServiceTest, BatchesBeyondWhatAClientSendsAreRefused) {
    struct Case {
        const char* name;
        size_t messages;
        long status;
    };
    const std::vector<Case> cases = {
        {"the persistent pair around 100 queued messages", BatchDispatcher::kMaxMessages, 200},
        {"one more", BatchDispatcher::kMaxMessages + 1, 400},
        {"a flood of empty messages", 200000, 400},
    };
    for (const auto& c : cases) {
        std::string body;
        for (size_t i = 0; i < c.messages; ++i)
            body += c.messages > 1000 ? std::string(4, '\0') : sizePrefixed("TESM", "");
        const Reply reply = post("/api", body);
        EXPECT_EQ(reply.status, c.status) << c.name;
        if (c.status == 200) {
            std::vector<std::string> responses;
            EXPECT_TRUE(splitResponses(reply.body, responses)) << c.name;
            EXPECT_EQ(responses.size(), c.messages) << c.name;
        }
    }
}

TEST_F(StandInServiceTest, UnknownMessagesKeepOnlyTheLatest) {
    const size_t total = BatchDispatcher::kKeptUnknownMessages + 60;
    auto identifier = [](size_t i) {
        char text[24];
        std::snprintf(text, sizeof text, "U%03zu", i);
        return std::string(text);
    };
    for (size_t first = 0; first < total; first += 100) {
        std::string body;
        for (size_t i = first; i < std::min(total, first + 100); ++i)
            body += sizePrefixed(identifier(i), "");
        ASSERT_EQ(post("/api", body).status, 200);
    }
    const auto unknown = service_.unknownMessages();
    ASSERT_EQ(unknown.size(), BatchDispatcher::kKeptUnknownMessages);
    EXPECT_EQ(unknown.front(), identifier(total - BatchDispatcher::kKeptUnknownMessages));
    EXPECT_EQ(unknown.back(), identifier(total - 1));
}

// A body beyond the limit is answered 413 without being read, and the connection ends there.
TEST_F(StandInServiceTest, OversizedBodyIsRefusedWithoutReadingIt) {
    const std::string over = std::to_string(StandInService::kMaxBodyBytes + 1);
    struct Case {
        const char* name;
        std::string head;
        std::string body;
        const char* status = "HTTP/1.1 413 ";
    };
    std::string chunked(StandInService::kMaxBodyBytes + 1, 'c');
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", chunked.size());
    const std::vector<Case> cases = {
        {"announced 200 MiB, none sent", "POST /echo HTTP/1.1\r\nHost: x\r\nContent-Length: 209715200\r\n\r\n", ""},
        {"announced one byte over, none sent", "POST /api HTTP/1.1\r\nHost: x\r\nContent-Length: " + over + "\r\n\r\n",
         ""},
        {"chunked, no length announced", "POST /blob/big HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n",
         size + chunked},
        {"length that is no number", "POST /echo HTTP/1.1\r\nHost: x\r\nContent-Length: 12x\r\n\r\n", "",
         "HTTP/1.1 400 "},
    };
    for (const auto& c : cases) {
        test::TlsSocket socket;
        ASSERT_TRUE(socket.connect(service_.port())) << c.name;
        ASSERT_TRUE(socket.write(c.head + c.body)) << c.name;
        bool closed = false;
        const std::string answer = socket.readUntilClosed(closed);
        EXPECT_EQ(answer.rfind(c.status, 0), 0u) << c.name << ": " << answer.substr(0, 40);
        EXPECT_TRUE(closed) << c.name;
    }
    EXPECT_EQ(service_.getBlob("big"), "");

    // Up to the limit is fine, and "/sink" counts any length without keeping it.
    const std::string largest(StandInService::kMaxBodyBytes, 'l');
    EXPECT_EQ(post("/echo", largest).body, largest);
    EXPECT_EQ(post("/sink", std::string(4 * StandInService::kMaxBodyBytes, 's')).body,
              std::to_string(4 * StandInService::kMaxBodyBytes));
}

TEST_F(StandInServiceTest, RawBytesEndpoints) {
    service_.putBlob("preset", "stored bytes");
    struct Case {
        const char* name;
        std::string method, path, body;
        long status;
        std::string answer;
    };
    const std::vector<Case> cases = {
        {"data by POST, body ignored", "POST", "/data/1000", "ignored", 200, dataBytes(1000)},
        {"data by GET", "GET", "/data/5", "", 200, dataBytes(5)},
        {"empty data", "POST", "/data/0", "", 200, ""},
        {"data length not a number", "POST", "/data/12x", "", 400, ""},
        {"echo", "POST", "/echo", std::string("a\0b", 3), 200, std::string("a\0b", 3)},
        {"sink", "POST", "/sink", std::string(70000, 'q'), 200, "70000"},
        {"absent blob", "GET", "/blob/nothing", "", 404, ""},
        {"store a blob", "POST", "/blob/item", "blob body", 200, ""},
        {"read it by GET", "GET", "/blob/item", "", 200, "blob body"},
        {"read it by an empty POST", "POST", "/blob/item", "", 200, "blob body"},
        {"blob put by the test", "GET", "/blob/preset", "", 200, "stored bytes"},
        {"unknown path", "POST", "/nowhere", "", 404, ""},
    };
    for (const auto& c : cases) {
        Call call;
        call.url = service_.baseUrl() + c.path;
        call.method = c.method;
        call.body = c.body;
        call.caFile = service_.certificatePath();
        const Reply reply = perform(call);
        EXPECT_EQ(reply.code, CURLE_OK) << c.name;
        EXPECT_EQ(reply.status, c.status) << c.name;
        EXPECT_EQ(reply.body, c.answer) << c.name;
        // The client offers gzip and br; wire sizes must stay those of the bodies all the same.
        EXPECT_EQ(reply.headers.count("content-encoding"), 0u) << c.name;
    }
    EXPECT_EQ(service_.getBlob("item"), "blob body");
    EXPECT_EQ(service_.getBlob("nothing"), "");
}

struct FaultCase {
    const char* name;
    Fault fault;
    std::string path;
    CURLcode code;
    long status;
    std::function<void(const Reply&)> check;
};

Fault makeFault(std::function<void(Fault&)> set) {
    Fault fault;
    set(fault);
    return fault;
}

TEST_F(StandInServiceTest, FaultSwitches) {
    const std::string data = dataBytes(100000);
    std::string flipped = data;
    flipped[70000] = static_cast<char>(flipped[70000] ^ 0xFF);
    const std::vector<FaultCase> cases = {
        {"status", makeFault([](Fault& f) { f.status = 503; }), "/data/100", CURLE_OK, 503,
         [](const Reply& r) { EXPECT_EQ(r.body, ""); }},
        {"drop before headers", makeFault([](Fault& f) { f.drop = Fault::Drop::BeforeHeaders; }), "/data/100",
         CURLE_GOT_NOTHING, 0, nullptr},
        {"drop after headers", makeFault([](Fault& f) { f.drop = Fault::Drop::AfterHeaders; }), "/data/100",
         CURLE_PARTIAL_FILE, 200,
         [](const Reply& r) {
             EXPECT_EQ(r.headers.at("content-length"), "100");
             EXPECT_EQ(r.body, "");
         }},
        {"cut body", makeFault([](Fault& f) { f.cutAfter = 70000; }), "/data/100000", CURLE_PARTIAL_FILE, 200,
         [&data](const Reply& r) {
             EXPECT_EQ(r.headers.at("content-length"), "100000");
             EXPECT_EQ(r.body, data.substr(0, 70000));
         }},
        {"cut beyond the body sends it all", makeFault([](Fault& f) { f.cutAfter = 200000; }), "/data/100000", CURLE_OK,
         200, [&data](const Reply& r) { EXPECT_EQ(r.body, data); }},
        {"flipped byte", makeFault([](Fault& f) { f.flipByte = 70000; }), "/data/100000", CURLE_OK, 200,
         [&flipped](const Reply& r) { EXPECT_EQ(r.body, flipped); }},
        {"flipped byte of a stored body", makeFault([](Fault& f) { f.flipByte = 1; }), "/sink", CURLE_OK, 200,
         [](const Reply& r) { EXPECT_EQ(r.body, std::string("1") + char('0' ^ 0xFF)); }},
    };
    for (const auto& c : cases) {
        service_.clearFaults();
        Fault fault = c.fault;
        fault.pathPrefix = c.path;
        service_.addFault(fault);
        Call call;
        call.url = service_.baseUrl() + c.path;
        call.body = c.path == "/sink" ? std::string(10, 'x') : std::string();
        call.caFile = service_.certificatePath();
        const Reply reply = perform(call);
        EXPECT_EQ(reply.code, c.code) << c.name << ": " << curl_easy_strerror(reply.code);
        EXPECT_EQ(reply.status, c.status) << c.name;
        if (c.check) {
            SCOPED_TRACE(c.name);
            c.check(reply);
        }
        // One use only: the next request is answered normally.
        const Reply next = perform(call);
        EXPECT_EQ(next.code, CURLE_OK) << c.name;
        EXPECT_EQ(next.status, 200) << c.name;
    }
}

TEST_F(StandInServiceTest, GzipAnnouncesTheDecodedLength) {
    struct Case {
        const char* name;
        int64_t announced;
        int64_t flipByte;
        std::string expectedHeader;
        std::string expectedBody;
    };
    std::string flipped = dataBytes(50000);
    flipped[3] = static_cast<char>(flipped[3] ^ 0xFF);
    const std::vector<Case> cases = {
        {"true length", -1, -1, "50000", dataBytes(50000)},
        {"announced length", 7, -1, "7", dataBytes(50000)},
        {"content damaged before encoding", -1, 3, "50000", flipped},
    };
    for (const auto& c : cases) {
        for (const bool decode : {false, true}) {
            Fault fault;
            fault.pathPrefix = "/data/";
            fault.gzip = true;
            fault.announcedLength = c.announced;
            fault.flipByte = c.flipByte;
            service_.addFault(fault);
            Call call;
            call.url = service_.baseUrl() + "/data/50000";
            call.caFile = service_.certificatePath();
            call.decode = decode;
            const Reply reply = perform(call);
            ASSERT_EQ(reply.code, CURLE_OK) << c.name;
            EXPECT_EQ(reply.headers.at("content-encoding"), "gzip") << c.name;
            EXPECT_EQ(reply.headers.at("corvane-original-content-length"), c.expectedHeader) << c.name;
            EXPECT_EQ(decode ? reply.body : gunzip(reply.body), c.expectedBody) << c.name << " decode " << decode;
            if (!decode) {
                EXPECT_LT(reply.body.size(), 50000u) << c.name;
            }
        }
    }
}

TEST_F(StandInServiceTest, DelayHoldsTheAnswerOnly) {
    Fault fault;
    fault.pathPrefix = "/echo";
    fault.delay = 300ms;
    service_.addFault(fault);
    const auto start = std::chrono::steady_clock::now();
    const Reply reply = post("/echo", "late");
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
    EXPECT_EQ(reply.code, CURLE_OK);
    EXPECT_EQ(reply.body, "late");
}

TEST_F(StandInServiceTest, EndlessFaultLastsUntilCleared) {
    Fault fault;
    fault.pathPrefix = "/api";
    fault.times = -1;
    fault.status = 500;
    service_.addFault(fault);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(post("/api").status, 500);
    EXPECT_EQ(post("/echo").status, 200);
    service_.clearFaults();
    EXPECT_EQ(post("/api").status, 200);
}

TEST_F(StandInServiceTest, LongPollAnswersPendingEventsAndTimesOut) {
    service_.setPollTimeout(200ms);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(post("/events/token1?s=abc").body, "0");
    EXPECT_GE(std::chrono::steady_clock::now() - start, 200ms);

    service_.setEventsPending("token1");
    EXPECT_EQ(post("/events/token2").body, "0");  // another token's events stay pending
    EXPECT_EQ(post("/events/token1").body, "1");
    EXPECT_EQ(post("/events/token1").body, "0");  // answered once, then cleared

    // Events that arrive during an open poll end it at once.
    service_.setPollTimeout(20s);
    service_.clearRequests();
    auto poll = std::async(std::launch::async, [this] { return post("/events/token1"); });
    ASSERT_TRUE(waitForRequests(1));
    start = std::chrono::steady_clock::now();
    service_.setEventsPending("token1");
    EXPECT_EQ(poll.get().body, "1");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
}

TEST_F(StandInServiceTest, StopEndsOpenPollsAndIdleConnections) {
    service_.setPollTimeout(60s);
    // An idle keep-alive connection, as libcurl keeps after each exchange.
    CURL* reused = curl_easy_init();
    Call call;
    call.url = service_.baseUrl() + "/echo";
    call.caFile = service_.certificatePath();
    ASSERT_EQ(perform(call, reused).code, CURLE_OK);

    auto poll = std::async(std::launch::async, [this] { return post("/events/open"); });
    ASSERT_TRUE(waitForRequests(2));
    const auto start = std::chrono::steady_clock::now();
    service_.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    poll.get();
    EXPECT_EQ(perform(call, reused).code, CURLE_COULDNT_CONNECT);
    curl_easy_cleanup(reused);

    // The same instance starts again, with the same certificate.
    const std::string pin = service_.pin();
    ASSERT_TRUE(service_.start());
    Call again;
    again.url = service_.baseUrl() + "/echo";
    again.pin = pin;
    again.caFile = service_.certificatePath();
    EXPECT_EQ(perform(again).code, CURLE_OK);
}

// Long polls and idle sockets each hold a connection open; neither may keep a batch waiting.
TEST_F(StandInServiceTest, BatchIsAnsweredBehindOpenPollsAndIdleSockets) {
    constexpr int kPolls = 64;
    constexpr int kIdleSockets = 64;  // half that never start their handshake, half kept alive after an exchange
    service_.setPollTimeout(60s);
    std::vector<int> idle;
    for (int i = 0; i < kIdleSockets / 2; ++i) {
        const int fd = test::connectLoopback(service_.port());
        ASSERT_GE(fd, 0);
        idle.push_back(fd);
    }
    std::vector<CURL*> keptAlive;
    for (int i = 0; i < kIdleSockets / 2; ++i) {
        keptAlive.push_back(curl_easy_init());
        Call call;
        call.url = service_.baseUrl() + "/echo";
        call.caFile = service_.certificatePath();
        ASSERT_EQ(perform(call, keptAlive.back()).code, CURLE_OK);
    }
    service_.clearRequests();
    std::vector<std::future<Reply>> polls;
    for (int i = 0; i < kPolls; ++i) {
        polls.push_back(std::async(std::launch::async, [this, i] {
            Call call;
            call.url = service_.baseUrl() + "/events/poll" + std::to_string(i);
            call.caFile = service_.certificatePath();
            call.timeoutMs = 120000;
            return perform(call);
        }));
    }
    const bool allPolling = waitForRequests(kPolls);
    EXPECT_TRUE(allPolling) << service_.requests().size() << " of " << kPolls << " polls arrived";

    Call batch;
    batch.url = service_.apiUrl();
    batch.body = sizePrefixed("XXXM", "");
    batch.caFile = service_.certificatePath();
    batch.timeoutMs = 30000;
    const Reply reply = perform(batch);
    EXPECT_EQ(reply.code, CURLE_OK) << curl_easy_strerror(reply.code);
    EXPECT_EQ(reply.status, 200);

    for (int i = 0; i < kPolls; ++i)
        service_.setEventsPending("poll" + std::to_string(i));
    for (auto& poll : polls)
        EXPECT_EQ(poll.get().body, "1");
    for (int fd : idle)
        ::close(fd);
    for (CURL* handle : keptAlive)
        curl_easy_cleanup(handle);
}

// A client that sends its headers a byte at a time never trips a time-out per read; the
// deadline for the whole head ends its connection.
TEST_F(StandInServiceTest, TricklingHeadersMeetTheReadDeadline) {
    service_.setReadDeadline(1s);
    test::TlsSocket socket;
    ASSERT_TRUE(socket.connect(service_.port()));
    ASSERT_TRUE(socket.write("POST /echo HTTP/1.1\r\nHost: x\r\n"));
    const auto start = std::chrono::steady_clock::now();
    bool ended = false;
    while (!ended && std::chrono::steady_clock::now() - start < 20s) {
        if (!socket.write("X")) break;
        pollfd ready{socket.fd(), POLLIN, 0};
        ended = ::poll(&ready, 1, 200) > 0;  // the server says nothing until it closes
    }
    bool closed = false;
    socket.readUntilClosed(closed);
    EXPECT_TRUE(closed);
    // A generous bound, yet well below what the server's other limits would allow.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 6s);
    EXPECT_EQ(post("/echo", "still served").body, "still served");
}

TEST(StandInServiceStore, CreatesTheDatabaseFileInTheDataDirectory) {
    char pattern[] = "/tmp/corvane-service-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string directory = pattern;
    const std::string file = directory + "/corvane-service.db";
    {
        StandInService service;
        service.setDataDirectory(directory);
        ASSERT_TRUE(service.start());
        struct stat info {};
        EXPECT_EQ(stat(file.c_str(), &info), 0);
    }
    std::remove(file.c_str());
    std::remove((directory + "/certificate.pem").c_str());
    std::remove((directory + "/key.pem").c_str());
    rmdir(directory.c_str());

    StandInService missing;
    missing.setDataDirectory(directory + "/absent");
    EXPECT_FALSE(missing.start());
}

// A restart on the same data directory serves the same key, so a client's pin stays valid;
// the certificate file stays with the store.
TEST(StandInServiceStore, KeepsItsCertificateAndKeyInTheDataDirectory) {
    char pattern[] = "/tmp/corvane-service-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string directory = pattern;
    const std::string certificate = directory + "/certificate.pem";
    const std::string key = directory + "/key.pem";
    std::string pin;
    {
        StandInService service;
        service.setDataDirectory(directory);
        ASSERT_TRUE(service.start());
        pin = service.pin();
        EXPECT_EQ(service.certificatePath(), certificate);
        struct stat info {};
        ASSERT_EQ(stat(key.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 077, 0u) << "the key is readable by its owner only";
    }
    struct stat info {};
    EXPECT_EQ(stat(certificate.c_str(), &info), 0);
    {
        StandInService restarted;
        EXPECT_NE(restarted.pin(), pin);
        restarted.setDataDirectory(directory);
        ASSERT_TRUE(restarted.start());
        EXPECT_EQ(restarted.pin(), pin);
        Call pinned;
        pinned.url = restarted.baseUrl() + "/echo";
        pinned.body = "pinned";
        pinned.pin = pin;
        EXPECT_EQ(perform(pinned).body, "pinned");
    }
    // A key that does not belong to the certificate is not served, and is not overwritten.
    {
        StandInService other;
        const std::string otherCertificate = other.certificatePath();
        std::rename(otherCertificate.c_str(), certificate.c_str());
        StandInService mismatched;
        mismatched.setDataDirectory(directory);
        EXPECT_FALSE(mismatched.start());
        EXPECT_EQ(stat(key.c_str(), &info), 0);
    }
    std::remove((directory + "/corvane-service.db").c_str());
    std::remove(certificate.c_str());
    std::remove(key.c_str());
    rmdir(directory.c_str());
}

TEST(StandInServiceFiles, CertificateFileIsRemovedWithTheInstance) {
    std::string path;
    {
        StandInService service;
        path = service.certificatePath();
        FILE* file = std::fopen(path.c_str(), "r");
        ASSERT_NE(file, nullptr);
        X509* certificate = PEM_read_X509(file, nullptr, nullptr, nullptr);
        std::fclose(file);
        ASSERT_NE(certificate, nullptr);
        EXPECT_EQ(X509_check_ip_asc(certificate, "127.0.0.1", 0), 1);
        EXPECT_EQ(X509_check_host(certificate, "localhost", 0, 0, nullptr), 1);
        X509_free(certificate);
    }
    EXPECT_EQ(std::fopen(path.c_str(), "r"), nullptr);
}

}  // namespace
}  // namespace corvane::service
