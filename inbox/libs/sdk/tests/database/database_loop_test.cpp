#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "database/database.h"
#include "database/mutable_user_info_data.h"
#include "database/sqlite_database.h"
#include "database_test_util.h"
#include "loop/libuv_loop.h"

namespace corvane {
namespace {

using test::TempDir;

// The database module on a real database loop, its completions on a real result loop: the
// SQLite work happens on one thread and every callback, in issue order, on the other.
TEST(DatabaseLoopTest, CompletionsArriveInOrderOnTheResultLoop) {
    constexpr int kRows = 50;
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    LibuvLoop databaseLoop;
    LibuvLoop mainLoop;
    databaseLoop.start();
    mainLoop.start();
    auto db = std::make_unique<SQLiteDatabase>(&databaseLoop, &mainLoop);

    // Everything below is touched on the main loop only, until done is set.
    std::vector<std::string> events;
    bool offThread = false;
    std::thread::id mainThread;
    std::unique_ptr<Database<MutableUserInfoData>> users;
    std::promise<void> done;

    auto record = [&](const std::string& event) {
        events.push_back(event);
        offThread = offThread || std::this_thread::get_id() != mainThread;
    };

    auto issue = [&]() {
        mainThread = std::this_thread::get_id();
        const std::string path = dir.file("cache.db");
        db->execute([&, path]() {
            db->open(path, {std::make_shared<MutableUserInfoData>()}, [&](bool ok) {
                record(ok ? "open" : "open failed");
                auto prototype = std::make_shared<MutableUserInfoData>();
                db->execute([&, prototype]() {
                    db->table(*prototype, [&](DatabaseImpl* handle) {
                        record(handle ? "table" : "no table");
                        if (!handle) {
                            done.set_value();
                            return;
                        }
                        handle->setRecordFactory([]() { return std::make_shared<MutableUserInfoData>(); });
                        users = std::make_unique<Database<MutableUserInfoData>>(db->getLoop(), handle);
                        db->beginTransaction([&](bool ok) { record(ok ? "begin" : "begin failed"); });
                        for (int i = 0; i < kRows; i++) {
                            auto user = std::make_shared<MutableUserInfoData>();
                            user->setId(static_cast<uint64_t>(i + 1));
                            users->insert(user, [&, i](bool ok) { record("insert " + std::to_string(i + 1)); });
                        }
                        db->commitTransaction([&](bool ok) { record(ok ? "commit" : "commit failed"); });
                        auto onRow = [&](std::shared_ptr<MutableUserInfoData> user, bool ok) {
                            if (!user) {
                                record(ok ? "end" : "search failed");
                                done.set_value();
                                return;
                            }
                            record("row " + std::to_string(user->getId()));
                        };
                        users->search(-1, std::vector<uint8_t>{}, 0, onRow);
                    });
                });
            });
        });
    };
    mainLoop.post(issue);

    ASSERT_EQ(done.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
    databaseLoop.stop();
    mainLoop.stop();
    databaseLoop.join();
    mainLoop.join();

    std::vector<std::string> expected = {"open", "table", "begin"};
    for (int i = 1; i <= kRows; i++) {
        expected.push_back("insert " + std::to_string(i));
    }
    expected.push_back("commit");
    for (int i = 1; i <= kRows; i++) {
        expected.push_back("row " + std::to_string(i));
    }
    expected.push_back("end");
    EXPECT_EQ(events, expected);
    EXPECT_FALSE(offThread);
    EXPECT_NE(mainThread, std::this_thread::get_id());
}

}  // namespace
}  // namespace corvane
