#include "metadata/metadata_manager.h"

#include <memory>

#include <gtest/gtest.h>

#include "support/manager_modules.h"

namespace corvane {
namespace {

TEST(MetadataManagerTest, BuiltAndDeletedOverRealModulesRepeatedly) {
    for (int round = 0; round < 3; ++round) {
        test::ManagerModules modules;
        auto manager = std::make_unique<MetadataManager>(modules.http.get(), modules.cryptoManager.get(),
                                                         modules.database.get(), modules.filesystem.get());
        manager.reset();
    }
}

}  // namespace
}  // namespace corvane
