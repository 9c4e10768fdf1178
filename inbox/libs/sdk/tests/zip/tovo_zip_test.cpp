#include "zip/tovo_zip.h"

#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "filesystem/libuv_filesystem.h"
#include "loop/libuv_loop.h"

namespace corvane {
namespace {

// The ZIP loop and the SDK main loop of one facade, running.
struct ZipLoops {
    ZipLoops() {
        mainLoop.start();
        zipLoop.start();
    }
    // Loops stop before the module goes, as the API manager does.
    void stop() {
        zipLoop.stop();
        zipLoop.join();
        mainLoop.stop();
        mainLoop.join();
    }
    LibuvLoop mainLoop;
    LibuvLoop zipLoop;
};

TEST(TovoZipTest, EntersTheRegistryForItsLifeUnderAFreshId) {
    for (int round = 0; round < 3; ++round) {
        ZipLoops loops;
        auto first = std::make_unique<TovoZip>(&loops.zipLoop, &loops.mainLoop);
        auto second = std::make_unique<TovoZip>(&loops.zipLoop, &loops.mainLoop);
        const int32_t firstId = first->getModuleId();
        const int32_t secondId = second->getModuleId();
        EXPECT_GT(firstId, 0);
        EXPECT_GT(secondId, firstId);
        EXPECT_EQ(TovoZip::findModule(firstId), first.get());
        EXPECT_EQ(TovoZip::findModule(secondId), second.get());

        // Its own file module works on the ZIP loop and answers there.
        ASSERT_NE(first->getFileModule(), nullptr);
        EXPECT_EQ(first->getFileModule()->getLoop(), &loops.zipLoop);
        EXPECT_EQ(first->getLoop(), &loops.zipLoop);
        EXPECT_EQ(first->getCallbackLoop(), &loops.mainLoop);

        loops.stop();
        first.reset();
        EXPECT_EQ(TovoZip::findModule(firstId), nullptr);
        EXPECT_EQ(TovoZip::findModule(secondId), second.get());
        second.reset();
        EXPECT_EQ(TovoZip::findModule(secondId), nullptr);
    }
}

// Two facades build and delete their modules on their own threads while a hook looks modules
// up: the registry is shared by all of them.
TEST(TovoZipTest, RegistryIsSharedAcrossThreads) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([]() {
            for (int round = 0; round < 20; ++round) {
                LibuvLoop zipLoop;
                auto module = std::make_unique<TovoZip>(&zipLoop, nullptr);
                EXPECT_EQ(TovoZip::findModule(module->getModuleId()), module.get());
                const int32_t id = module->getModuleId();
                module.reset();
                EXPECT_EQ(TovoZip::findModule(id), nullptr);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
}

}  // namespace
}  // namespace corvane
