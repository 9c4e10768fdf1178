// The bare rates of a transfer's stages on this machine (bench/transfer_bare_rates.h): single-core
// BLAKE2b and AES-256-CTR, and the curl tool posting 256 MiB as 1 MiB chunks four at a time to
// the stand-in's upload link and fetching them back from the content's download link.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "account_directory.h"
#include "stand_in_service.h"
#include "transfer_bare_stand_in.h"

namespace {

constexpr size_t kChunks = 256;

}  // namespace

// Argument: rounds (3); each round measures every stage once, and the best round is printed.
int main(int argc, char** argv) {
    using namespace corvane::service;
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    curl_global_init(CURL_GLOBAL_ALL);
    StandInService service;
    if (!service.start()) {
        std::fprintf(stderr, "stand-in service did not start\n");
        return 1;
    }
    AccountDirectory& accounts = service.accounts();
    const uint64_t user = accounts.createUser("bench@example.test");
    const uint64_t account = accounts.createAccount(user);
    NodeRecord root;
    root.type = 0;
    const uint64_t rootHandle = accounts.addRoot(account, root, FilesystemRecord{});
    const std::string session = accounts.createSession(user, account);
    if (rootHandle == 0 || session.empty()) {
        std::fprintf(stderr, "stand-in account not made\n");
        return 1;
    }

    corvane::bench::BareRates best;
    for (int round = 0; round < rounds; ++round) {
        const auto rates = corvane::bench::measureBareRates(service, session, rootHandle, kChunks);
        best.blake2b = std::max(best.blake2b, rates.blake2b);
        best.aesCtr = std::max(best.aesCtr, rates.aesCtr);
        best.curlUpload = std::max(best.curlUpload, rates.curlUpload);
        best.curlDownload = std::max(best.curlDownload, rates.curlDownload);
    }
    std::printf("bare rates, best of %d rounds, MB/s (10^6 bytes per second), 256 MiB each:\n", rounds);
    std::printf("  %-44s %10.1f\n", "BLAKE2b-256, one core (Crypto++)", best.blake2b);
    std::printf("  %-44s %10.1f\n", "AES-256-CTR, one core (Crypto++)", best.aesCtr);
    std::printf("  %-44s %10.1f\n", "curl tool upload, 1 MiB chunks, 4 at once", best.curlUpload);
    std::printf("  %-44s %10.1f\n", "curl tool download, 1 MiB chunks, 4 at once", best.curlDownload);
    std::printf("  %-44s %10.1f\n", "slowest upload stage", best.slowestUpload());
    std::printf("  %-44s %10.1f\n", "slowest download stage", best.slowestDownload());
    service.stop();
    curl_global_cleanup();
    return 0;
}
