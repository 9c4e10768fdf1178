// Loopback stand-in of the service for tests and local runs: HTTPS on 127.0.0.1 (HTTP/1.1 only)
// with a fresh self-signed certificate, the batch endpoint, the event long poll, raw-bytes
// endpoints, scripted faults and a record of the latest requests.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace corvane::service {

class AccountDirectory;

// One scripted fault, applied to the next `times` requests whose path starts with pathPrefix.
struct Fault {
    std::string pathPrefix;              // "" matches every request
    int times = 1;                       // -1: every matching request until cleared
    int status = 0;                      // answer with this HTTP status and an empty body (0: normal answer)
    std::chrono::milliseconds delay{0};  // wait this long before answering (the connection stays open)
    enum class Drop { None, BeforeHeaders, AfterHeaders } drop = Drop::None;  // close the connection
    int64_t cutAfter = -1;  // send the headers with the full Content-Length, then only this many body bytes, then close
    int64_t flipByte = -1;  // XOR 0xFF into the body byte at this offset
    bool gzip = false;      // send the body gzip-encoded (Content-Encoding: gzip) with the header
    int64_t announcedLength =
        -1;              //   "corvane-original-content-length": this value, or the true decoded length when -1
    std::string body{};  // with status: the body of that answer (empty by default)
};

// One scripted fault of the transfer links, for the chunk whose range starts at `first` (any
// chunk when -1), applied to the next `times` such chunks (-1: until cleared). Chunk links are
// POST <upload link>/<first>-<last> and POST <download link>/<first>-<last>, ends inclusive.
//   ServerError  answers 500 with an empty body; an upload chunk is not stored
//   Drop         upload: closes the connection after reading half the body, nothing stored;
//                download: sends the headers with the whole length and half the body, then closes
//   NotFound     answers 404 with an empty body; an upload chunk is not stored
//   FlipByte     upload: stores the chunk with its middle byte flipped and answers as usual;
//                download: flips the middle byte of the body
//   ShortBody    download: answers 200 with only the first half of the range's bytes
//   NoToken      upload: the chunk that completes the upload answers an empty body (the
//                upload is complete all the same: a retry of a chunk then gets the token)
//   SlowBody     download: the body goes out in pieces spread over `slowFor`; upload: the
//                body is read in pieces spread over `slowFor`
// A fault whose kind does not apply to its link (ShortBody on uploads, NoToken on downloads)
// never applies.
struct ChunkFault {
    enum class Link { Upload, Download };
    enum class Kind { ServerError, Drop, NotFound, FlipByte, ShortBody, NoToken, SlowBody };
    Link link = Link::Upload;
    Kind kind = Kind::ServerError;
    int64_t first = -1;
    int times = 1;
    std::chrono::milliseconds slowFor{2000};
};

struct RecordedRequest {
    std::string method, path, query;  // query: the raw text after '?', "" when none
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;       // the first StandInService::kRecordedBodyBytes of the body
    uint64_t bodySize = 0;  // the whole body's length
};

// Answers one batch message: gets the whole size-prefixed message (4-byte length included),
// returns the response proper (a plain FlatBuffers buffer, no length prefix).
using BatchHandler = std::function<std::string(const std::string& message)>;

class StandInService {
public:
    // What one request may carry: a file chunk (1 MiB) with room for its framing. A larger
    // body is refused with 413 before it is read, and the connection is closed. ("/sink"
    // only counts what it receives and takes any length.)
    static constexpr uint64_t kMaxBodyBytes = (1u << 20) + (64u << 10);
    // The record keeps the latest requests, each with the first bytes of its body.
    static constexpr size_t kRecordedRequests = 256;
    static constexpr size_t kRecordedBodyBytes = 64u << 10;

    StandInService();   // makes a fresh P-256 key and a self-signed certificate
    ~StandInService();  // stops
    StandInService(const StandInService&) = delete;
    StandInService& operator=(const StandInService&) = delete;

    bool start(uint16_t port = 0);  // HTTPS on 127.0.0.1 (HTTP/1.1 only), ephemeral port when 0; returns when listening
    void stop();                    // closes the listener and open connections; returns when the server thread ended
    uint16_t port() const;
    std::string baseUrl() const;          // "https://127.0.0.1:<port>"
    std::string apiUrl() const;           // baseUrl() + "/api"
    std::string pin() const;              // "sha256//" + Base64(SHA-256(DER SubjectPublicKeyInfo))
    std::string certificatePath() const;  // PEM certificate file (SAN IP:127.0.0.1, DNS:localhost): usable as a CA file
    void setBatchHandler(const std::string& identifier,
                         BatchHandler handler);  // identifier: the message's 4 characters, e.g. "TESM"
    void addFault(Fault fault);
    void clearFaults();
    std::vector<RecordedRequest> requests() const;  // the latest kRecordedRequests requests, in arrival order
    void clearRequests();
    // Waits until at least `count` of the latest requests (arrived since clearArrivals) have a
    // path starting with pathPrefix; false when the time ran out first.
    bool waitForRequests(const std::string& pathPrefix, size_t count, std::chrono::milliseconds timeout);
    void clearArrivals();
    // Raw-bytes endpoints, used by transport tests and later by chunk and blob links:
    //   POST/GET "/data/<n>"  answers n deterministic bytes (byte i = (i * 7 + 3) & 0xFF); request body ignored
    //   POST "/echo"           answers the request body
    //   POST "/sink"           reads the body (any length, nothing kept), answers its length as decimal text
    //   "/blob/<name>"         POST stores the body under name (answers empty), GET/POST-with-empty-body answers it
    //   (404 when absent)
    void putBlob(const std::string& name, std::string bytes);
    std::string getBlob(const std::string& name) const;
    // Long poll: POST "/events/<token>" answers "1" when events are pending for that token (and clears them),
    // or, for a session's token, while changes that session was not told of wait (until its next status
    // answer); otherwise waits up to pollTimeout (default 30 s, settable), woken by either, and answers "0".
    void setEventsPending(const std::string& token);
    void setPollTimeout(std::chrono::milliseconds timeout);

    // Extras of the stand-in beyond the agreed interface.
    // Before start() and before any account is made: where the SQLite store lives (in memory
    // without one). The accounts outlive stop(), so a restarted stand-in keeps its sessions.
    void setDataDirectory(const std::string& directory);
    // A connection must deliver its TLS handshake, and each request line with its headers,
    // within this time from their first byte (default 10 s), or it is closed; a body gets as
    // much again plus the time to move it at 64 KiB/s.
    void setReadDeadline(std::chrono::milliseconds deadline);
    std::vector<std::string> unknownMessages()
        const;  // identifiers (or "" when unreadable) of the latest batch messages no handler answered

    // Accounts, sessions and their change logs (account_directory.h): the fixture of tests that
    // sign in with a session made here. A batch "?s=<id>" is answered in that session; once a
    // session exists, a batch naming an unknown one gets 403. GetStatus answers each session
    // its own long-poll link, baseUrl() + "/events/<token>".
    AccountDirectory& accounts();
    // Answers one whole size-prefixed message as the session would get it in a batch: a
    // change "made by another session" reaches the account's other sessions as an event.
    // Returns the response without its length; "" when the session is unknown.
    std::string answerAs(const std::string& sessionId, const std::string& message);

    // Transfers. Upload answers a fresh link baseUrl() + "/ul/<id>" per request, Download the
    // content link baseUrl() + "/dl/<id>" of a file node; both serve chunks on this server.
    // An upload's chunk answers are empty except the one completing it, which answers the token
    // AddNodes then takes (upload contents live in files under the data directory's "contents"
    // folder, or a private temporary one).
    void addChunkFault(ChunkFault fault);
    void clearChunkFaults();
    // An account whose quota is exceeded gets 13 for every Upload. False when the account is unknown.
    bool setQuotaExceeded(uint64_t account, bool exceeded);
    // The file holding the stored ciphertext of a file node; "" when it has none.
    std::string contentFile(uint64_t node);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace corvane::service
