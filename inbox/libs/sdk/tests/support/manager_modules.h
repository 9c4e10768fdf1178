#pragma once

#include <future>
#include <memory>
#include <type_traits>
#include <utility>

#include "crypto/crypto_manager.h"
#include "crypto/cryptopp_crypto.h"
#include "database/sqlite_database.h"
#include "filesystem/libuv_filesystem.h"
#include "http/curl_http.h"
#include "loop/libuv_loop.h"
#include "support/fake_api_manager.h"
#include "support/run_on_loop.h"

namespace corvane {
namespace test {

// A fake API manager whose SDK main loop is a real one.
class LoopApiManager : public FakeApiManager {
public:
    explicit LoopApiManager(Loop* mainLoop) : mainLoop_(mainLoop) {}
    Loop* getLoop() const override { return mainLoop_; }

private:
    Loop* mainLoop_;
};

// A libuv loop whose timer records can be counted (on the loop thread).
class CountingLoop : public LibuvLoop {
public:
    size_t timerCount() const { return timers_.size(); }
};

// The modules the managers are built over, on running loops, as the API manager builds them:
// an SDK main loop, HTTP, database, crypto and file-system loops, the libcurl transport, the
// second database, the crypto manager and the libuv file module.
class ManagerModules {
public:
    ManagerModules() : apiManager(&mainLoop) {
        mainLoop.start();
        databaseLoop.start();
        filesystemLoop.start();
        cryptoLoop.start();
        http = std::make_unique<CurlHttp>(&httpLoop, nullptr, &mainLoop);
        database = std::make_unique<SQLiteDatabase>(&databaseLoop, &mainLoop);
        filesystem = std::make_unique<LibuvFilesystem>(&filesystemLoop, &mainLoop);
        crypto = std::make_unique<CryptoppCrypto>(&cryptoLoop, &mainLoop);
        cryptoManager = std::make_unique<CryptoManager>(crypto.get());
        httpLoop.start();
    }

    // Module loops first, as the API manager does; the managers built over these modules are
    // gone by then.
    ~ManagerModules() {
        for (ThreadedLoop* loop :
             {static_cast<ThreadedLoop*>(&httpLoop), static_cast<ThreadedLoop*>(&cryptoLoop),
              static_cast<ThreadedLoop*>(&databaseLoop), static_cast<ThreadedLoop*>(&filesystemLoop)}) {
            loop->stop();
            loop->join();
        }
        cryptoManager.reset();
        crypto.reset();
        http.reset();
        database.reset();
        filesystem.reset();
        mainLoop.stop();
        mainLoop.join();
    }

    ManagerModules(const ManagerModules&) = delete;
    ManagerModules& operator=(const ManagerModules&) = delete;

    // Runs the function on the SDK main loop and returns its result.
    template <typename Function>
    auto onLoop(Function function) -> decltype(function()) {
        return runOnLoop(mainLoop, std::move(function));
    }

    CountingLoop mainLoop;
    LibuvLoop httpLoop;
    LibuvLoop databaseLoop;
    LibuvLoop filesystemLoop;
    LibuvLoop cryptoLoop;
    LoopApiManager apiManager;
    std::unique_ptr<CurlHttp> http;
    std::unique_ptr<SQLiteDatabase> database;
    std::unique_ptr<LibuvFilesystem> filesystem;
    std::unique_ptr<CryptoppCrypto> crypto;
    std::unique_ptr<CryptoManager> cryptoManager;
};

}  // namespace test
}  // namespace corvane
