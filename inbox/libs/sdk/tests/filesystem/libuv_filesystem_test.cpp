#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "corvane/node_type.h"
#include "filesystem_test_support.h"
#include "fingerprint_reference.h"

namespace corvane {
namespace {

namespace stdfs = std::filesystem;
using test::FsHarness;
using test::FsTempDir;
using test::readBytes;
using test::writeBytes;
using Result = FilesystemModule::ResultCallback;
using Open = FilesystemModule::OpenCallback;
using Read = FilesystemModule::ReadCallback;
using Scan = FilesystemModule::ScanCallback;

std::vector<uint8_t> bytesOf(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::string textOf(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// What a path holds afterwards: "missing", "folder" or the file's contents in quotes.
std::string onDisk(const std::string& path) {
    std::error_code error;
    if (stdfs::is_directory(path, error)) {
        return "folder";
    }
    if (!stdfs::exists(path, error)) {
        return "missing";
    }
    return "'" + textOf(readBytes(path)) + "'";
}

std::string flag(bool ok) {
    return ok ? "true" : "false";
}

std::string names(std::vector<std::string>* list) {
    if (!list) {
        return "null";
    }
    std::sort(list->begin(), list->end());
    std::string joined;
    for (const auto& name : *list) {
        joined += (joined.empty() ? "" : ",") + name;
    }
    delete list;
    return joined;
}

// Opens, writes the text at the offset, closes; "null" when the open failed, else the
// write's and the close's results.
std::string openWriteClose(FsHarness& h, const std::function<void(Open)>& open, uint64_t offset,
                           const std::string& text) {
    File* file = h.open(open);
    if (!file) {
        return "null";
    }
    std::vector<uint8_t> bytes = bytesOf(text);
    bool written = h.result([&](Result done) { file->write(offset, bytes.data(), bytes.size(), done); });
    bool closed = h.close(file);
    return "write " + flag(written) + " close " + flag(closed);
}

std::string openReadClose(FsHarness& h, const std::function<void(Open)>& open, uint64_t offset, uint64_t size) {
    File* file = h.open(open);
    if (!file) {
        return "null";
    }
    auto data = h.read([&](Read done) { file->read(offset, size, done); });
    h.close(file);
    return data ? "'" + textOf(*data) + "'" : "read null";
}

struct OpCase {
    std::string name;
    // Prepares the folder: files "a" ('hello'), "long" (100 x 'x'), "sub/" with "sub/b"
    // ('b') and an empty "empty/" always exist.
    std::function<std::string(FsHarness&, const FsTempDir&)> run;
    std::string expected;
};

std::ostream& operator<<(std::ostream& out, const OpCase& c) {
    return out << c.name;
}

class FilesystemOperationTest : public testing::TestWithParam<OpCase> {};

TEST_P(FilesystemOperationTest, ReportsAndLeavesTheDiskAsExpected) {
    FsTempDir dir;
    ASSERT_FALSE(dir.path().empty());
    writeBytes(dir.file("a"), bytesOf("hello"));
    writeBytes(dir.file("long"), std::vector<uint8_t>(100, 'x'));
    stdfs::create_directory(dir.file("sub"));
    writeBytes(dir.file("sub/b"), bytesOf("b"));
    stdfs::create_directory(dir.file("empty"));
    FsHarness h;
    EXPECT_EQ(GetParam().run(h, dir), GetParam().expected);
    EXPECT_TRUE(h.allOnMainLoop());
}

std::vector<OpCase> operationCases() {
    using H = FsHarness;
    using D = FsTempDir;
    return {
        // open
        {"OpenReadExisting",
         [](H& h, const D& d) {
             return openReadClose(
                 h, [&](Open o) { h.fs().openReadAccess(d.file("a"), o); }, 1, 3);
         },
         "'ell'"},
        {"OpenReadMissing",
         [](H& h, const D& d) {
             return openReadClose(
                 h, [&](Open o) { h.fs().openReadAccess(d.file("nope"), o); }, 0, 1);
         },
         "null"},
        {"OpenReadFolder",
         [](H& h, const D& d) {
             return openReadClose(
                 h, [&](Open o) { h.fs().openReadAccess(d.file("sub"), o); }, 0, 1);
         },
         "null"},
        {"OpenReadInMissingFolder",
         [](H& h, const D& d) {
             return openReadClose(
                 h, [&](Open o) { h.fs().openReadAccess(d.file("nope/a"), o); }, 0, 1);
         },
         "null"},
        {"ReadPastTheEndIsNull",
         [](H& h, const D& d) {
             return openReadClose(
                 h, [&](Open o) { h.fs().openReadAccess(d.file("a"), o); }, 3, 100);
         },
         "read null"},
        {"ReadOfNothingIsEmpty",
         [](H& h, const D& d) {
             return openReadClose(
                 h, [&](Open o) { h.fs().openReadAccess(d.file("a"), o); }, 5, 0);
         },
         "''"},
        {"OpenWriteCreatesMissing",
         [](H& h, const D& d) {
             std::string done = openWriteClose(
                 h, [&](Open o) { h.fs().openWriteAccess(d.file("new"), o); }, 0, "");
             return done + " " + onDisk(d.file("new"));
         },
         "write true close true ''"},
        {"OpenWriteKeepsTheTail",
         [](H& h, const D& d) {
             std::string done = openWriteClose(
                 h, [&](Open o) { h.fs().openWriteAccess(d.file("a"), o); }, 0, "AB");
             return done + " " + onDisk(d.file("a"));
         },
         "write true close true 'ABllo'"},
        {"OpenWriteAtAnOffsetExtends",
         [](H& h, const D& d) {
             std::string done = openWriteClose(
                 h, [&](Open o) { h.fs().openWriteAccess(d.file("a"), o); }, 5, "!");
             return done + " " + onDisk(d.file("a"));
         },
         "write true close true 'hello!'"},
        {"OpenReadWriteCreatesMissing",
         [](H& h, const D& d) {
             std::string done = openWriteClose(
                 h, [&](Open o) { h.fs().openReadWriteAccess(d.file("new"), 2, o); }, 0, "hi");
             return done + " " + onDisk(d.file("new"));
         },
         "write true close true 'hi'"},
        // A complete rewrite of a longer file: the expected size cuts the old tail at open.
        {"OpenReadWriteWithSizeCutsALongerFile",
         [](H& h, const D& d) {
             std::string done = openWriteClose(
                 h, [&](Open o) { h.fs().openReadWriteAccess(d.file("long"), 3, o); }, 0, "abc");
             return done + " " + onDisk(d.file("long"));
         },
         "write true close true 'abc'"},
        {"OpenWriteWithSizeZeroEmptiesTheFile",
         [](H& h, const D& d) {
             std::string done = openWriteClose(
                 h, [&](Open o) { h.fs().openWriteAccess(d.file("long"), 0, o); }, 0, "");
             return done + " " + onDisk(d.file("long"));
         },
         "write true close true ''"},
        {"OpenWriteWithALargerSizeKeepsTheLength",
         [](H& h, const D& d) {
             std::string done = openWriteClose(
                 h, [&](Open o) { h.fs().openWriteAccess(d.file("a"), 100, o); }, 0, "J");
             return done + " " + onDisk(d.file("a"));
         },
         "write true close true 'Jello'"},
        {"OpenWriteFolder",
         [](H& h, const D& d) {
             std::string done = openWriteClose(
                 h, [&](Open o) { h.fs().openWriteAccess(d.file("sub"), o); }, 0, "x");
             return done + " " + onDisk(d.file("sub"));
         },
         "null folder"},
        {"OpenWriteUnderAFile",
         [](H& h, const D& d) {
             return openWriteClose(
                 h, [&](Open o) { h.fs().openWriteAccess(d.file("a/x"), o); }, 0, "x");
         },
         "null"},
        {"OpenWriteInMissingFolder",
         [](H& h, const D& d) {
             return openWriteClose(
                 h, [&](Open o) { h.fs().openWriteAccess(d.file("nope/x"), o); }, 0, "x");
         },
         "null"},
        // stat
        {"StatFile",
         [](H& h, const D& d) {
             struct stat st {};
             ::stat(d.file("a").c_str(), &st);
             auto s = h.stat(d.file("a"));
             return std::to_string(s.type) + " " + std::to_string(s.size) + " " + flag(s.ok) + " " +
                    flag(s.mtime == static_cast<uint64_t>(st.st_mtim.tv_sec));
         },
         "20 5 true true"},
        {"StatFolder",
         [](H& h, const D& d) {
             auto s = h.stat(d.file("sub"));
             return std::to_string(s.type) + " " + flag(s.ok);
         },
         "21 true"},
        {"StatMissing",
         [](H& h, const D& d) {
             auto s = h.stat(d.file("nope"));
             return std::to_string(s.size) + " " + std::to_string(s.mtime) + " " + flag(s.ok);
         },
         "0 0 false"},
        {"StatUnderAFile", [](H& h, const D& d) { return flag(h.stat(d.file("a/x")).ok); }, "false"},
        // rename
        {"RenameFile",
         [](H& h, const D& d) {
             bool ok = h.result([&](Result r) { h.fs().rename(d.file("a"), d.file("c"), r); });
             std::string done = flag(ok) + " " + onDisk(d.file("a"));
             return done + " " + onDisk(d.file("c"));
         },
         "true missing 'hello'"},
        {"RenameReplacesAFile",
         [](H& h, const D& d) {
             bool ok = h.result([&](Result r) { h.fs().rename(d.file("a"), d.file("long"), r); });
             std::string done = flag(ok);
             return done + " " + onDisk(d.file("long"));
         },
         "true 'hello'"},
        {"RenameMissing",
         [](H& h, const D& d) {
             return flag(h.result([&](Result r) { h.fs().rename(d.file("nope"), d.file("c"), r); }));
         },
         "false"},
        {"RenameIntoMissingFolder",
         [](H& h, const D& d) {
             bool ok = h.result([&](Result r) { h.fs().rename(d.file("a"), d.file("nope/c"), r); });
             std::string done = flag(ok);
             return done + " " + onDisk(d.file("a"));
         },
         "false 'hello'"},
        {"RenameFileOntoAFolder",
         [](H& h, const D& d) {
             bool ok = h.result([&](Result r) { h.fs().rename(d.file("a"), d.file("sub"), r); });
             std::string done = flag(ok);
             return done + " " + onDisk(d.file("a"));
         },
         "false 'hello'"},
        // copy (no posting wrapper: run on the work loop)
        {"CopyFile",
         [](H& h, const D& d) {
             bool ok = h.result(
                 [&](Result r) { h.fs().execute([&, r]() { h.fs().copyFile(d.file("a"), d.file("c"), r); }); });
             std::string done = flag(ok) + " " + onDisk(d.file("a"));
             return done + " " + onDisk(d.file("c"));
         },
         "true 'hello' 'hello'"},
        {"CopyOntoAnExistingTarget",
         [](H& h, const D& d) {
             bool ok = h.result(
                 [&](Result r) { h.fs().execute([&, r]() { h.fs().copyFile(d.file("a"), d.file("long"), r); }); });
             return flag(ok) + " " + flag(readBytes(d.file("long")).size() == 100);
         },
         "false true"},
        {"CopyMissingSource",
         [](H& h, const D& d) {
             bool ok = h.result(
                 [&](Result r) { h.fs().execute([&, r]() { h.fs().copyFile(d.file("nope"), d.file("c"), r); }); });
             std::string done = flag(ok);
             return done + " " + onDisk(d.file("c"));
         },
         "false missing"},
        // remove
        {"RemoveFile",
         [](H& h, const D& d) {
             std::string done = flag(h.result([&](Result r) { h.fs().remove(d.file("a"), r); }));
             return done + " " + onDisk(d.file("a"));
         },
         "true missing"},
        {"RemoveMissing",
         [](H& h, const D& d) { return flag(h.result([&](Result r) { h.fs().remove(d.file("nope"), r); })); }, "false"},
        {"RemoveFolderAsFile",
         [](H& h, const D& d) {
             std::string done = flag(h.result([&](Result r) { h.fs().remove(d.file("empty"), r); }));
             return done + " " + onDisk(d.file("empty"));
         },
         "false folder"},
        // mkdir
        {"MkdirNew",
         [](H& h, const D& d) {
             std::string done = flag(h.result([&](Result r) { h.fs().mkdir(d.file("new"), r); }));
             return done + " " + onDisk(d.file("new"));
         },
         "true folder"},
        {"MkdirExisting",
         [](H& h, const D& d) { return flag(h.result([&](Result r) { h.fs().mkdir(d.file("sub"), r); })); }, "true"},
        {"MkdirInMissingFolder",
         [](H& h, const D& d) { return flag(h.result([&](Result r) { h.fs().mkdir(d.file("nope/new"), r); })); },
         "false"},
        {"MkdirUnderAFile",
         [](H& h, const D& d) { return flag(h.result([&](Result r) { h.fs().mkdir(d.file("a/new"), r); })); }, "false"},
        // rmdir (no posting wrapper: run on the work loop)
        {"RmdirEmpty",
         [](H& h, const D& d) {
             bool ok =
                 h.result([&](Result r) { h.fs().execute([&, r]() { h.fs().removeFolder(d.file("empty"), r); }); });
             std::string done = flag(ok);
             return done + " " + onDisk(d.file("empty"));
         },
         "true missing"},
        {"RmdirMissing",
         [](H& h, const D& d) {
             return flag(
                 h.result([&](Result r) { h.fs().execute([&, r]() { h.fs().removeFolder(d.file("nope"), r); }); }));
         },
         "true"},
        {"RmdirNotEmpty",
         [](H& h, const D& d) {
             bool ok = h.result([&](Result r) { h.fs().execute([&, r]() { h.fs().removeFolder(d.file("sub"), r); }); });
             std::string done = flag(ok);
             return done + " " + onDisk(d.file("sub/b"));
         },
         "false 'b'"},
        {"RmdirOfAFile",
         [](H& h, const D& d) {
             bool ok = h.result([&](Result r) { h.fs().execute([&, r]() { h.fs().removeFolder(d.file("a"), r); }); });
             std::string done = flag(ok);
             return done + " " + onDisk(d.file("a"));
         },
         "false 'hello'"},
        // scandir
        {"ScandirFolder",
         [](H& h, const D& d) {
             return names(h.wait<std::vector<std::string>*>([&](Scan s) { h.fs().scandir(d.path(), s); }));
         },
         "a,empty,long,sub"},
        {"ScandirEmptyFolder",
         [](H& h, const D& d) {
             return "[" +
                    names(h.wait<std::vector<std::string>*>([&](Scan s) { h.fs().scandir(d.file("empty"), s); })) + "]";
         },
         "[]"},
        {"ScandirMissing",
         [](H& h, const D& d) {
             return names(h.wait<std::vector<std::string>*>([&](Scan s) { h.fs().scandir(d.file("nope"), s); }));
         },
         "null"},
        {"ScandirOfAFile",
         [](H& h, const D& d) {
             return names(h.wait<std::vector<std::string>*>([&](Scan s) { h.fs().scandir(d.file("a"), s); }));
         },
         "null"},
        // recursiveMkdir
        {"RecursiveMkdirCreatesEveryLevel",
         [](H& h, const D& d) {
             bool ok = h.result([&](Result r) { h.fs().recursiveMkdir(d.file("x/y/z"), r); });
             std::string done = flag(ok);
             return done + " " + onDisk(d.file("x/y/z"));
         },
         "true folder"},
        {"RecursiveMkdirWithATrailingSeparator",
         [](H& h, const D& d) {
             bool ok = h.result([&](Result r) { h.fs().recursiveMkdir(d.file("x/y/"), r); });
             std::string done = flag(ok);
             return done + " " + onDisk(d.file("x/y"));
         },
         "true folder"},
        {"RecursiveMkdirOfAnExistingPath",
         [](H& h, const D& d) { return flag(h.result([&](Result r) { h.fs().recursiveMkdir(d.file("sub"), r); })); },
         "true"},
        {"RecursiveMkdirOfAnEmptyPath",
         [](H& h, const D& d) { return flag(h.result([&](Result r) { h.fs().recursiveMkdir("", r); })); }, "false"},
        {"RecursiveMkdirThroughAFile",
         [](H& h, const D& d) {
             bool ok = h.result([&](Result r) { h.fs().recursiveMkdir(d.file("a/y/z"), r); });
             std::string done = flag(ok);
             return done + " " + onDisk(d.file("a"));
         },
         "false 'hello'"},
        // readFile
        {"ReadFileWhole",
         [](H& h, const D& d) {
             auto data = h.read([&](Read r) { h.fs().readFile(d.file("a"), r); });
             return data ? "'" + textOf(*data) + "'" : "null";
         },
         "'hello'"},
        {"ReadFileEmpty",
         [](H& h, const D& d) {
             writeBytes(d.file("zero"), {});
             auto data = h.read([&](Read r) { h.fs().readFile(d.file("zero"), r); });
             return data ? "'" + textOf(*data) + "'" : "null";
         },
         "''"},
        {"ReadFileOfAFolder",
         [](H& h, const D& d) { return h.read([&](Read r) { h.fs().readFile(d.file("sub"), r); }) ? "data" : "null"; },
         "null"},
        {"ReadFileMissing",
         [](H& h, const D& d) { return h.read([&](Read r) { h.fs().readFile(d.file("nope"), r); }) ? "data" : "null"; },
         "null"},
        // writeFile
        {"WriteFileNew",
         [](H& h, const D& d) {
             std::vector<uint8_t> bytes = bytesOf("fresh");
             bool ok = h.result([&](Result r) { h.fs().writeFile(d.file("new"), bytes.data(), bytes.size(), r); });
             std::string done = flag(ok);
             return done + " " + onDisk(d.file("new"));
         },
         "true 'fresh'"},
        {"WriteFileOverALongerFile",
         [](H& h, const D& d) {
             std::vector<uint8_t> bytes = bytesOf("short");
             bool ok = h.result([&](Result r) { h.fs().writeFile(d.file("long"), bytes.data(), bytes.size(), r); });
             std::string done = flag(ok);
             return done + " " + onDisk(d.file("long"));
         },
         "true 'short'"},
        {"WriteFileOfNothing",
         [](H& h, const D& d) {
             bool ok = h.result([&](Result r) { h.fs().writeFile(d.file("a"), nullptr, 0, r); });
             std::string done = flag(ok);
             return done + " " + onDisk(d.file("a"));
         },
         "true ''"},
        {"WriteFileInMissingFolder",
         [](H& h, const D& d) {
             std::vector<uint8_t> bytes = bytesOf("x");
             return flag(h.result([&](Result r) { h.fs().writeFile(d.file("nope/x"), bytes.data(), 1, r); }));
         },
         "false"},
        {"WriteFileOntoAFolder",
         [](H& h, const D& d) {
             std::vector<uint8_t> bytes = bytesOf("x");
             bool ok = h.result([&](Result r) { h.fs().writeFile(d.file("empty"), bytes.data(), 1, r); });
             std::string done = flag(ok);
             return done + " " + onDisk(d.file("empty"));
         },
         "false folder"},
        // abort
        {"AbortRemovesAFileOpenedForWriting",
         [](H& h, const D& d) {
             File* file = h.open([&](Open o) { h.fs().openWriteAccess(d.file("a"), o); });
             bool ok = h.result([&](Result r) { file->abort(r); });
             delete file;
             std::string done = flag(ok);
             return done + " " + onDisk(d.file("a"));
         },
         "true missing"},
        {"AbortRemovesAFileOpenedForReadingAndWriting",
         [](H& h, const D& d) {
             File* file = h.open([&](Open o) { h.fs().openReadWriteAccess(d.file("new"), 1, o); });
             bool ok = h.result([&](Result r) { file->abort(r); });
             delete file;
             std::string done = flag(ok);
             return done + " " + onDisk(d.file("new"));
         },
         "true missing"},
        {"AbortKeepsAFileOpenedForReading",
         [](H& h, const D& d) {
             File* file = h.open([&](Open o) { h.fs().openReadAccess(d.file("a"), o); });
             bool ok = h.result([&](Result r) { file->abort(r); });
             delete file;
             std::string done = flag(ok);
             return done + " " + onDisk(d.file("a"));
         },
         "true 'hello'"},
        {"CloseTwiceReportsFalse",
         [](H& h, const D& d) {
             File* file = h.open([&](Open o) { h.fs().openReadAccess(d.file("a"), o); });
             bool first = h.result([&](Result r) { file->close(r); });
             bool second = h.result([&](Result r) { file->close(r); });
             delete file;
             return flag(first) + " " + flag(second);
         },
         "true false"},
    };
}

INSTANTIATE_TEST_SUITE_P(Operations, FilesystemOperationTest, testing::ValuesIn(operationCases()),
                         [](const testing::TestParamInfo<OpCase>& info) { return info.param.name; });

// An aborted file is closed and removed once: a second abort neither closes the descriptor
// again (by then another file may hold its number) nor removes the file of a later writer.
TEST(FilesystemAbortTest, AbortClosesAndRemovesExactlyOnce) {
    FsTempDir dir;
    FsHarness h;
    const std::string path = dir.file("part");
    File* aborted = h.open([&](Open o) { h.fs().openWriteAccess(path, o); });
    ASSERT_NE(aborted, nullptr);
    EXPECT_TRUE(h.result([&](Result r) { aborted->abort(r); }));
    EXPECT_FALSE(stdfs::exists(path));

    // A new file at the same path, most likely on the same descriptor number.
    File* next = h.open([&](Open o) { h.fs().openWriteAccess(path, o); });
    ASSERT_NE(next, nullptr);
    EXPECT_FALSE(h.result([&](Result r) { aborted->abort(r); }));
    EXPECT_FALSE(h.result([&](Result r) { aborted->close(r); }));
    delete aborted;

    std::vector<uint8_t> bytes = bytesOf("kept");
    EXPECT_TRUE(h.result([&](Result r) { next->write(0, bytes.data(), bytes.size(), r); }));
    EXPECT_TRUE(h.close(next));
    EXPECT_EQ(onDisk(path), "'kept'");
    EXPECT_TRUE(h.allOnMainLoop());
}

// A read of size bytes fills a buffer of exactly size bytes in one request.
TEST(FilesystemReadTest, AReadAllocatesAndFillsTheRequestedSize) {
    FsTempDir dir;
    FsHarness h;
    const std::vector<uint8_t> contents = test::patternBytes(3 * 1048576 + 11, 5);
    writeBytes(dir.file("big"), contents);
    File* file = h.open([&](Open o) { h.fs().openReadAccess(dir.file("big"), o); });
    ASSERT_NE(file, nullptr);
    auto data = h.read([&](Read r) { file->read(1048576, 2 * 1048576 + 11, r); });
    h.close(file);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->size(), 2u * 1048576 + 11);
    EXPECT_EQ(data->capacity(), data->size());
    EXPECT_TRUE(std::equal(data->begin(), data->end(), contents.begin() + 1048576));

    auto whole = h.read([&](Read r) { h.fs().readFile(dir.file("big"), r); });
    ASSERT_NE(whole, nullptr);
    EXPECT_EQ(*whole, contents);
}

// Several requests on one file may be in flight at once; each carries its own offset.
TEST(FilesystemWriteTest, ConcurrentChunkWritesLandAtTheirOffsets) {
    FsTempDir dir;
    FsHarness h;
    constexpr size_t kChunk = 65536;
    constexpr int kChunks = 16;
    const std::vector<uint8_t> contents = test::patternBytes(kChunk * kChunks, 9);
    File* file = h.open([&](Open o) { h.fs().openReadWriteAccess(dir.file("chunks"), contents.size(), o); });
    ASSERT_NE(file, nullptr);
    std::vector<std::future<bool>> results;
    std::vector<std::shared_ptr<std::promise<bool>>> promises;
    for (int i = kChunks - 1; i >= 0; i--) {
        auto promise = std::make_shared<std::promise<bool>>();
        results.push_back(promise->get_future());
        file->write(i * kChunk, contents.data() + i * kChunk, kChunk, [promise](bool ok) { promise->set_value(ok); });
    }
    for (auto& result : results) {
        EXPECT_TRUE(result.get());
    }
    EXPECT_TRUE(h.close(file));
    EXPECT_EQ(readBytes(dir.file("chunks")), contents);
}

// Block sums run off both loops, several at once, and each reports the strong sum of its own
// block on the main loop; a missing block reports an empty sum.
TEST(FilesystemSumTest, BlockSumsAreTheBlocksBlake2bAndArriveOnTheMainLoop) {
    FsHarness h;
    std::promise<std::thread::id> mainThread;
    h.mainLoop().post([&]() { mainThread.set_value(std::this_thread::get_id()); });
    const std::thread::id main = mainThread.get_future().get();
    std::atomic<int> offMain{0};
    constexpr int kBlocks = 8;
    std::vector<std::shared_ptr<const std::vector<uint8_t>>> blocks;
    std::vector<std::future<std::vector<uint8_t>>> sums;
    for (int i = 0; i <= kBlocks; i++) {
        // The last but one block is short, as a file's last block is; the last is missing.
        if (i < kBlocks) {
            blocks.push_back(std::make_shared<const std::vector<uint8_t>>(
                test::patternBytes(i + 1 < kBlocks ? test::kMiB : 1234, static_cast<uint8_t>(i))));
        }
        auto promise = std::make_shared<std::promise<std::vector<uint8_t>>>();
        sums.push_back(promise->get_future());
        h.fs().sumBlock(i < kBlocks ? blocks.back() : nullptr, [&, promise](std::vector<uint8_t> sum) {
            offMain += std::this_thread::get_id() != main;
            promise->set_value(std::move(sum));
        });
    }
    for (int i = 0; i < kBlocks; i++) {
        EXPECT_EQ(sums[i].get(), test::referenceBlake2b256(blocks[i]->data(), blocks[i]->size())) << i;
        // The job let its share of the block go before it reported.
        EXPECT_EQ(blocks[i].use_count(), 1) << i;
    }
    EXPECT_TRUE(sums[kBlocks].get().empty());
    EXPECT_EQ(offMain, 0);
}

// A close asked for while writes are still under way waits for them: none of them may find the
// descriptor closed (or, worse, its number taken by another file).
TEST(FilesystemWriteTest, ACloseWaitsForTheWritesStillUnderWay) {
    FsTempDir dir;
    FsHarness h;
    constexpr int kChunks = 16;
    const std::vector<uint8_t> contents = test::patternBytes(kChunks * test::kMiB, 5);
    File* file = h.open([&](Open o) { h.fs().openReadWriteAccess(dir.file("late"), contents.size(), o); });
    ASSERT_NE(file, nullptr);
    std::vector<std::future<bool>> written;
    for (int i = 0; i < kChunks; i++) {
        auto promise = std::make_shared<std::promise<bool>>();
        written.push_back(promise->get_future());
        file->write(i * test::kMiB, contents.data() + i * test::kMiB, test::kMiB,
                    [promise](bool ok) { promise->set_value(ok); });
    }
    EXPECT_TRUE(h.close(file));
    for (int i = 0; i < kChunks; i++) {
        EXPECT_TRUE(written[i].get()) << i;
    }
    EXPECT_EQ(readBytes(dir.file("late")), contents);
}

// A file let go (released, or closed or aborted with its deletion) is closed after the writes
// under way and deleted on the filesystem loop, even when the callback loop has stopped first
// (as it may while an owner goes away at shutdown); a file left behind would show as a leak.
TEST(FilesystemReleaseTest, AFileLetGoGoesAfterItsWritesWithoutTheCallbackLoop) {
    struct Case {
        const char* name;
        std::function<void(File*)> letGo;
        bool kept;  // the written bytes stay on disk
    };
    const std::vector<Case> cases{
        {"released", [](File* file) { file->release(); }, true},
        {"closed and deleted", [](File* file) { file->closeAndDelete(false, [](bool) {}); }, true},
        {"aborted and deleted", [](File* file) { file->closeAndDelete(true, [](bool) {}); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FsTempDir dir;
        LibuvLoop fsLoop;
        LibuvLoop mainLoop;
        fsLoop.start();
        mainLoop.start();
        const std::vector<uint8_t> contents = test::patternBytes(8 * test::kMiB, 6);
        {
            LibuvFilesystem fs(&fsLoop, &mainLoop);
            std::promise<File*> opened;
            fs.openReadWriteAccess(dir.file("let-go"), contents.size(), [&](File* file) { opened.set_value(file); });
            File* file = opened.get_future().get();
            ASSERT_NE(file, nullptr);
            file->write(0, contents.data(), contents.size(), nullptr);
            mainLoop.stop();
            mainLoop.join();
            c.letGo(file);
            fsLoop.stop();
            fsLoop.join();
        }
        if (c.kept) {
            EXPECT_EQ(readBytes(dir.file("let-go")), contents);
        }
    }
}

// With no callback loop the results arrive on the filesystem loop thread, still never inside
// the call that asked.
TEST(FilesystemLoopTest, WithoutACallbackLoopResultsArriveOnTheWorkLoop) {
    FsTempDir dir;
    LibuvLoop fsLoop;
    fsLoop.start();
    {
        LibuvFilesystem fs(&fsLoop, nullptr);
        std::promise<std::thread::id> loopThread;
        fsLoop.post([&]() { loopThread.set_value(std::this_thread::get_id()); });
        const std::thread::id expected = loopThread.get_future().get();
        std::promise<std::thread::id> seen;
        std::atomic<bool> returned{false};
        std::atomic<bool> ranInsideCall{false};
        fs.mkdir(dir.file("m"), [&](bool ok) {
            ranInsideCall = !returned;
            seen.set_value(ok ? std::this_thread::get_id() : std::thread::id());
        });
        returned = true;
        EXPECT_EQ(seen.get_future().get(), expected);
        EXPECT_FALSE(ranInsideCall);
        fsLoop.stop();
        fsLoop.join();
    }
}

// A short write is not success. The file size limit makes the system write only part of the
// bytes and then refuse the rest.
TEST(FilesystemWriteTest, AWriteThatStopsShortReportsFailure) {
    FsTempDir dir;
    FsHarness h;
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    if (saved.rlim_max != RLIM_INFINITY && saved.rlim_max < 1000000) {
        GTEST_SKIP() << "file size limit already set";
    }
    void (*savedHandler)(int) = signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = saved;
    limit.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);

    const std::vector<uint8_t> bytes = test::patternBytes(10000, 3);
    bool whole = h.result([&](Result r) { h.fs().writeFile(dir.file("whole"), bytes.data(), bytes.size(), r); });
    File* file = h.open([&](Open o) { h.fs().openWriteAccess(dir.file("chunk"), o); });
    bool chunk = file && h.result([&](Result r) { file->write(0, bytes.data(), bytes.size(), r); });
    if (file) {
        h.close(file);
    }

    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, savedHandler);
    EXPECT_FALSE(whole);
    EXPECT_FALSE(chunk);
    EXPECT_EQ(stdfs::file_size(dir.file("whole")), 4096u);
}

// Neither a FIFO (whose open would wait for a writer) nor a symbolic-link loop holds up the
// filesystem loop: each is refused, and the loop answers the next request.
TEST(FilesystemSpecialFileTest, FifoAndLinkLoopAreRefusedWithoutBlocking) {
    FsTempDir dir;
    FsHarness h;
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    const std::string loop = dir.file("loop");
    stdfs::create_symlink(dir.file("loop2"), loop);
    stdfs::create_symlink(loop, dir.file("loop2"));

    EXPECT_EQ(h.open([&](Open o) { h.fs().openReadAccess(fifo, o); }), nullptr);
    EXPECT_EQ(h.open([&](Open o) { h.fs().openReadWriteAccess(fifo, 0, o); }), nullptr);
    EXPECT_EQ(h.read([&](Read r) { h.fs().readFile(fifo, r); }), nullptr);
    // Without a reader, opening for writing alone fails at once.
    EXPECT_EQ(h.open([&](Open o) { h.fs().openWriteAccess(fifo, o); }), nullptr);
    // A FIFO has no size: fingerprinting reports it as empty without opening it.
    auto hashes = h.hash(fifo);
    EXPECT_TRUE(hashes.ok);
    EXPECT_TRUE(hashes.full.empty() && hashes.sparse.empty());

    EXPECT_EQ(h.open([&](Open o) { h.fs().openReadAccess(loop, o); }), nullptr);
    EXPECT_EQ(h.open([&](Open o) { h.fs().openWriteAccess(loop, o); }), nullptr);
    EXPECT_EQ(h.read([&](Read r) { h.fs().readFile(loop, r); }), nullptr);
    EXPECT_FALSE(h.stat(loop).ok);

    // The loop still answers.
    EXPECT_TRUE(h.stat(dir.path()).ok);
}

// Permission denied: run as a user who lacks the permission. As root the checks run in a
// child process switched to "nobody"; another user runs them directly on files it locked.
const char* const kPermissionDirVariable = "CORVANE_FS_PERMISSION_DIR";

void preparePermissionFolder(const FsTempDir& dir, bool asRoot) {
    writeBytes(dir.file("secret"), bytesOf("secret"));
    stdfs::create_directory(dir.file("locked"));
    writeBytes(dir.file("locked/inner"), bytesOf("inner"));
    stdfs::create_directory(dir.file("private"));
    chmod(dir.path().c_str(), 0755);
    chmod(dir.file("secret").c_str(), asRoot ? 0600 : 0000);
    chmod(dir.file("locked").c_str(), 0555);
    chmod(dir.file("private").c_str(), asRoot ? 0700 : 0000);
}

void runPermissionChecks(const std::string& root) {
    auto file = [&](const std::string& name) { return root + "/" + name; };
    FsHarness h;
    std::vector<uint8_t> bytes = bytesOf("x");
    EXPECT_EQ(h.open([&](Open o) { h.fs().openReadAccess(file("secret"), o); }), nullptr);
    EXPECT_EQ(h.open([&](Open o) { h.fs().openWriteAccess(file("secret"), o); }), nullptr);
    EXPECT_EQ(h.read([&](Read r) { h.fs().readFile(file("secret"), r); }), nullptr);
    EXPECT_FALSE(h.hash(file("secret")).ok);
    EXPECT_EQ(h.open([&](Open o) { h.fs().openWriteAccess(file("locked/new"), o); }), nullptr);
    EXPECT_FALSE(h.result([&](Result r) { h.fs().writeFile(file("locked/new"), bytes.data(), 1, r); }));
    EXPECT_FALSE(h.result([&](Result r) { h.fs().mkdir(file("locked/sub"), r); }));
    EXPECT_FALSE(h.result([&](Result r) { h.fs().recursiveMkdir(file("locked/a/b"), r); }));
    EXPECT_FALSE(h.result([&](Result r) { h.fs().remove(file("locked/inner"), r); }));
    EXPECT_FALSE(h.result([&](Result r) { h.fs().rename(file("locked/inner"), file("locked/moved"), r); }));
    EXPECT_EQ(h.wait<std::vector<std::string>*>([&](Scan s) { h.fs().scandir(file("private"), s); }), nullptr);
    EXPECT_EQ(onDisk(file("locked/inner")), "'inner'");
    EXPECT_FALSE(stdfs::exists(file("locked/new")));
}

TEST(FilesystemPermissionTest, OperationsWithoutPermissionFail) {
    if (const char* root = std::getenv(kPermissionDirVariable)) {
        runPermissionChecks(root);
        return;
    }
    FsTempDir dir;
    const bool asRoot = geteuid() == 0;
    preparePermissionFolder(dir, asRoot);
    if (!asRoot) {
        runPermissionChecks(dir.path());
        return;
    }
    const std::string output = dir.file("child-output");
    // Everything the child needs is made before the fork: it only switches user and starts
    // this program again.
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; entry++) {
        environment.emplace_back(*entry);
    }
    environment.push_back(std::string(kPermissionDirVariable) + "=" + dir.path());
    std::vector<char*> envp;
    for (auto& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    const char* argv[] = {"sdk_filesystem_tests", "--gtest_filter=FilesystemPermissionTest.*", nullptr};
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out >= 0) {
            dup2(out, 1);
            dup2(out, 2);
        }
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) {
            _exit(77);
        }
        execve("/proc/self/exe", const_cast<char* const*>(argv), envp.data());
        _exit(78);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77 || WEXITSTATUS(status) == 78) {
        GTEST_SKIP() << "cannot run as an unprivileged user here";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0) << textOf(readBytes(output));
}

}  // namespace
}  // namespace corvane
