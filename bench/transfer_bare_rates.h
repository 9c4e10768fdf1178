// The bare rates a transfer is measured against, on this machine and in the same run: single-core
// BLAKE2b (the fingerprint hash), AES-256-CTR (the content cipher), both with Crypto++ as the
// SDK uses them, and the curl tool moving 1 MiB chunks four at a time to an upload link and back
// from a download link of the stand-in. Rates are MB/s (10^6 bytes per second).
//
// The tool's times leave out its start: a run of one chunk is timed first and taken off the time
// of the run of one plus the measured chunks (process start, the first handshake and the first
// request fall out), as bench/http_bench.cpp does.
#pragma once

#include <cryptopp/aes.h>
#include <cryptopp/blake2.h>
#include <cryptopp/modes.h>
#include <cryptopp/osrng.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <dirent.h>
#include <unistd.h>

namespace corvane::bench {

constexpr size_t kBareChunk = size_t(1) << 20;
constexpr size_t kBareParallel = 4;

inline double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

inline double megabytesPerSecond(double bytes, double seconds) {
    return seconds > 0 ? bytes / seconds / 1e6 : 0;
}

// Hashes `total` bytes, a 16 MiB buffer over and over, with 256-bit BLAKE2b on this thread.
inline double blake2bRate(size_t total) {
    std::vector<CryptoPP::byte> buffer(16 * kBareChunk);
    CryptoPP::AutoSeededRandomPool random;
    random.GenerateBlock(buffer.data(), buffer.size());
    CryptoPP::BLAKE2b hash(false, 32);
    CryptoPP::byte digest[32];
    const auto start = std::chrono::steady_clock::now();
    for (size_t done = 0; done < total; done += buffer.size())
        hash.Update(buffer.data(), std::min(buffer.size(), total - done));
    hash.Final(digest);
    return megabytesPerSecond(static_cast<double>(total), secondsSince(start));
}

// Encrypts `total` bytes with AES-256-CTR on this thread, 1 MiB at a time as chunks are, each at
// its own counter as the SDK sets it for a chunk's offset.
inline double aesCtrRate(size_t total) {
    std::vector<CryptoPP::byte> plain(kBareChunk), cipher(kBareChunk);
    CryptoPP::AutoSeededRandomPool random;
    random.GenerateBlock(plain.data(), plain.size());
    CryptoPP::byte key[32];
    random.GenerateBlock(key, sizeof key);
    const auto start = std::chrono::steady_clock::now();
    for (size_t offset = 0; offset < total; offset += kBareChunk) {
        CryptoPP::byte counter[CryptoPP::AES::BLOCKSIZE] = {};
        uint64_t block = offset / CryptoPP::AES::BLOCKSIZE;
        for (int i = 15; i >= 8; --i, block >>= 8)
            counter[i] = static_cast<CryptoPP::byte>(block);
        CryptoPP::CTR_Mode<CryptoPP::AES>::Encryption encryption(key, sizeof key, counter);
        encryption.ProcessData(cipher.data(), plain.data(), std::min(kBareChunk, total - offset));
    }
    return megabytesPerSecond(static_cast<double>(total), secondsSince(start));
}

// The ranges of `count` chunks of 1 MiB as a curl URL list: "{0-1048575,1048576-2097151,...}".
inline std::string chunkRangeList(size_t count) {
    std::string list = "{";
    for (size_t i = 0; i < count; ++i) {
        if (i) list += ",";
        list += std::to_string(i * kBareChunk) + "-" + std::to_string((i + 1) * kBareChunk - 1);
    }
    return list + "}";
}

inline std::string makeTemporaryFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/corvane-bare-XXXXXX";
    return ::mkdtemp(pattern.data()) ? pattern : std::string();
}

inline void removeFolder(const std::string& folder) {
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") ::unlink((folder + "/" + name).c_str());
        }
        ::closedir(dir);
    }
    ::rmdir(folder.c_str());
}

inline double runTool(const std::string& command) {
    const auto start = std::chrono::steady_clock::now();
    const int rc = std::system(command.c_str());
    const double elapsed = secondsSince(start);
    if (rc != 0) {
        std::fprintf(stderr, "curl failed (%d): %s\n", rc, command.c_str());
        return -1;
    }
    return elapsed;
}

inline std::string toolOptions() {
    // Transfer links are not authenticated beyond TLS: the tool checks no certificate either.
    return "curl -s -S --no-progress-meter --fail --http1.1 -k -H 'Expect:' -H 'Content-Type: "
           "application/octet-stream' --parallel --parallel-immediate --parallel-max " +
           std::to_string(kBareParallel);
}

// Posts `count` chunks of 1 MiB (the same random bytes each) to `uploadLink`, four at a time;
// `warmLink` is another upload link of one chunk, for the run that is taken off. The upload's
// token (the body of the chunk that completed it) goes to *token. MB/s, or 0 on failure.
inline double curlUploadRate(const std::string& warmLink, const std::string& uploadLink, size_t count,
                             std::string* token) {
    const std::string folder = makeTemporaryFolder();
    if (folder.empty()) return 0;
    const std::string chunkFile = folder + "/chunk";
    {
        std::vector<CryptoPP::byte> bytes(kBareChunk);
        CryptoPP::AutoSeededRandomPool().GenerateBlock(bytes.data(), bytes.size());
        std::ofstream(chunkFile, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    const std::string options = toolOptions() + " --data-binary @" + chunkFile;
    const double one = runTool(options + " '" + warmLink + "/" + chunkRangeList(1).substr(1, 9) + "' -o /dev/null");
    // Each answer goes to a file named by its range: the one that is not empty holds the token.
    const double all =
        runTool(options + " '" + uploadLink + "/" + chunkRangeList(count) + "' -o '" + folder + "/answer-#1'");
    if (token) {
        token->clear();
        for (size_t i = 0; i < count; ++i) {
            std::ifstream in(
                folder + "/answer-" + std::to_string(i * kBareChunk) + "-" + std::to_string((i + 1) * kBareChunk - 1),
                std::ios::binary);
            std::string body((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (!body.empty()) *token = body;
        }
    }
    removeFolder(folder);
    if (one < 0 || all < 0 || count < 2) return 0;
    // The measured run's first chunk stands for the warm run's.
    return megabytesPerSecond(static_cast<double>((count - 1) * kBareChunk), all - one);
}

// Fetches `count` chunks of 1 MiB from `downloadLink` (a content of at least count + 1 MiB),
// four at a time, as POSTs with an empty body. MB/s, or 0 on failure.
inline double curlDownloadRate(const std::string& downloadLink, size_t count) {
    const std::string options = toolOptions() + " --data-binary ''";
    const double one = runTool(options + " '" + downloadLink + "/" + chunkRangeList(1).substr(1, 9) + "' -o /dev/null");
    const double all = runTool(options + " '" + downloadLink + "/" + chunkRangeList(count + 1) + "' -o /dev/null");
    if (one < 0 || all < 0) return 0;
    return megabytesPerSecond(static_cast<double>(count * kBareChunk), all - one);
}

}  // namespace corvane::bench
