#include <gtest/gtest.h>
#include <QDir>
#include <QTemporaryDir>

#include "support/child_process.h"

namespace {

using tembratest::ChildProcess;

// Two starts with the same home folder, each a real process running the program's entry.
class SingleInstanceTest : public testing::Test {
protected:
    void SetUp() override {
        // The folder's own name is part of the instance keys: each test has its own.
        ASSERT_TRUE(root_.isValid());
        environment_ = tembratest::isolatedEnvironment(root_.path());
    }

    ChildProcess* start() {
        children_.push_back(std::make_unique<ChildProcess>(QStringLiteral(TEMBRA_INSTANCE_HELPER), environment_));
        return children_.back().get();
    }

    QTemporaryDir root_;
    QProcessEnvironment environment_;
    std::vector<std::unique_ptr<ChildProcess>> children_;
};

TEST_F(SingleInstanceTest, SecondStartShowsTheBoxAndExitsWhileTheFirstRunsOn) {
    ChildProcess* first = start();
    ASSERT_EQ(first->waitForLine("started"), "started");

    ChildProcess* second = start();
    EXPECT_EQ(second->waitForLine("box:"), "box: Tembra is already running.");
    EXPECT_FALSE(second->lines().contains("started"));
    // Eight checks, with a pause between each two.
    EXPECT_EQ(second->lines().count("pause"), 7);
    second->send("close");
    ASSERT_TRUE(second->waitForExit());
    EXPECT_FALSE(second->crashed());
    EXPECT_EQ(second->exitCode(), 0);

    // The first instance was not disturbed: it still runs and ends with its loop's result.
    first->send("quit");
    ASSERT_TRUE(first->waitForExit());
    EXPECT_EQ(first->exitCode(), 0);
    EXPECT_FALSE(first->lines().contains("pause"));

    // Once it has gone, the next start is the instance at its first check.
    ChildProcess* third = start();
    EXPECT_EQ(third->waitForLine("started"), "started");
    EXPECT_FALSE(third->lines().contains("pause"));
    third->send("quit");
    EXPECT_TRUE(third->waitForExit());
}

TEST_F(SingleInstanceTest, KilledInstanceLeavesNothingThatBlocksTheNextStart) {
    ChildProcess* first = start();
    ASSERT_EQ(first->waitForLine("started"), "started");
    // No clean-up of any kind runs in a killed process.
    first->kill();
    EXPECT_TRUE(first->crashed());

    ChildProcess* next = start();
    EXPECT_EQ(next->waitForLine("started"), "started");
    EXPECT_FALSE(next->lines().contains("pause")) << "the next start got in at its first check";
    next->send("quit");
    ASSERT_TRUE(next->waitForExit());
    EXPECT_EQ(next->exitCode(), 0);
}

TEST_F(SingleInstanceTest, OtherHomeFolderNamesDoNotExcludeEachOther) {
    ChildProcess* first = start();
    ASSERT_EQ(first->waitForLine("started"), "started");

    QTemporaryDir otherRoot;
    ASSERT_TRUE(otherRoot.isValid());
    QProcessEnvironment other = tembratest::isolatedEnvironment(otherRoot.path());
    ChildProcess second(QStringLiteral(TEMBRA_INSTANCE_HELPER), other);
    EXPECT_EQ(second.waitForLine("started"), "started");
    second.send("quit");
    EXPECT_TRUE(second.waitForExit());
    first->send("quit");
    EXPECT_TRUE(first->waitForExit());
}

// No self-updater stands next to the program: each start is logged as failed and the next
// one comes with the timer.
TEST_F(SingleInstanceTest, MissingUpdaterIsLoggedAtStartAndAtEachTick) {
    environment_.insert("TEMBRA_TEST_UPDATER_MS", "50");
    ChildProcess running(QStringLiteral(TEMBRA_INSTANCE_HELPER), environment_, true);
    EXPECT_FALSE(running.waitForLineContaining("Update tool started: NO").isEmpty());
    EXPECT_FALSE(running.waitForLineContaining("Enabling crash handler").isEmpty());
    EXPECT_FALSE(running.waitForLineContaining("Update tool restarted: NO").isEmpty());
    EXPECT_FALSE(running.waitForLineContaining("Update tool restarted: NO").isEmpty());
    running.send("quit");
    ASSERT_TRUE(running.waitForExit());
    EXPECT_EQ(running.exitCode(), 0);
    EXPECT_TRUE(running.lines().filter("Closing application").size() == 1);
}

}  // namespace
