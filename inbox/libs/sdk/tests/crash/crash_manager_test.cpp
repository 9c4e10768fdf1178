// Faults the helper program (crash_helper.cpp) in a child process in each way the handler
// covers and checks what the handler made of it. The test program itself never faults.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <cryptopp/filters.h>
#include <cryptopp/hex.h>
#include <cryptopp/sha.h>
#include <flatbuffers/flatbuffers.h>
#include <gtest/gtest.h>

#include "crash_report_message_generated.h"

extern char** environ;

namespace corvane {
namespace {

namespace fs = std::filesystem;

constexpr const char* kHelperPath = CORVANE_CRASH_HELPER;
constexpr const char* kHelperName = "crash_helper";
// Sanitizer runtimes catch these signals themselves unless told not to; the helper must show
// the SDK's handler. The sanitizer's own allocator failure is worked around in the helper.
constexpr const char* kChildSanitizerOptions =
    "handle_segv=0:handle_sigbus=0:handle_sigill=0:handle_sigfpe=0:handle_abort=0:"
    "allow_user_segv_handler=1:detect_leaks=0";
// The report must be logged and handed over as two strings, which allocates inside the signal
// handler; ThreadSanitizer would stop the helper there.
constexpr const char* kChildThreadSanitizerOption = "report_signal_unsafe=0";
constexpr int kHelperTimeoutMs = 120 * 1000;
// Bytes from a fault function's start within which its faulting instruction lies.
constexpr uint64_t kFunctionSpan = 256;
constexpr uint64_t kNoAddress = ~uint64_t(0);

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream data;
    data << in.rdbuf();
    return data.str();
}

std::string hex(uint64_t value) {
    std::ostringstream text;
    text << std::uppercase << std::hex << value;
    return text.str();
}

std::string sha224Hex(const std::string& data) {
    CryptoPP::SHA224 hash;
    std::string digest;
    CryptoPP::StringSource source(
        data, true, new CryptoPP::HashFilter(hash, new CryptoPP::HexEncoder(new CryptoPP::StringSink(digest), false)));
    return digest;
}

std::string operatingSystem() {
    utsname names{};
    uname(&names);
    return std::string(names.sysname) + " " + names.release;
}

class Folder {
public:
    Folder() {
        std::string pattern = (fs::temp_directory_path() / "corvane-crash-XXXXXX").string();
        const char* made = mkdtemp(pattern.data());
        path_ = made != nullptr ? made : "";
    }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Runs the helper with the fault and returns its wait status.
int runHelper(const std::string& folder, const std::string& fault) {
    std::vector<std::string> environment;
    std::string threadSanitizerOptions = std::string("TSAN_OPTIONS=") + kChildThreadSanitizerOption;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (text.rfind("TSAN_OPTIONS=", 0) == 0) {
            threadSanitizerOptions = text + ":" + kChildThreadSanitizerOption;
        } else if (text.rfind("ASAN_OPTIONS=", 0) != 0 && text.rfind("UBSAN_OPTIONS=", 0) != 0) {
            environment.push_back(text);
        }
    }
    environment.push_back(threadSanitizerOptions);
    environment.push_back(std::string("ASAN_OPTIONS=") + kChildSanitizerOptions);
    environment.push_back(std::string("UBSAN_OPTIONS=") + kChildSanitizerOptions);
    std::vector<char*> envp;
    for (std::string& text : environment) {
        envp.push_back(text.data());
    }
    envp.push_back(nullptr);
    std::string program = kHelperPath;
    std::string folderArgument = folder;
    std::string faultArgument = fault;
    char* argv[] = {program.data(), folderArgument.data(), faultArgument.data(), nullptr};

    // Opened before the fork: the child may only make async-signal-safe calls.
    const std::string outputPath = folder + "/output.txt";
    const int output = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const pid_t pid = fork();
    if (pid == 0) {
        // The crashes are expected: no core files, and the runtime's own messages stay out of
        // the test's output.
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        if (output >= 0) {
            dup2(output, STDOUT_FILENO);
            dup2(output, STDERR_FILENO);
        }
        execve(kHelperPath, argv, envp.data());
        _exit(127);
    }
    if (output >= 0) {
        close(output);
    }
    if (pid < 0) {
        ADD_FAILURE() << "fork failed";
        return -1;
    }

    // Wait for the exit, but not for ever if the handler hangs.
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0) {
        pollfd exited{pidfd, POLLIN, 0};
        if (poll(&exited, 1, kHelperTimeoutMs) == 0) {
            ADD_FAILURE() << "the helper did not end after the fault " << fault;
            kill(pid, SIGKILL);
        }
        close(pidfd);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

// What the helper wrote before faulting: the fault function's offset in the helper, the
// touched address, the absolute address of code outside every module.
struct Expected {
    uint64_t function = kNoAddress;
    uint64_t pointer = kNoAddress;
    uint64_t code = kNoAddress;
};

Expected readExpected(const std::string& folder) {
    Expected expected;
    std::istringstream lines(readFile(folder + "/expected"));
    std::string key;
    uint64_t value = 0;
    while (lines >> key >> value) {
        (key == "function" ? expected.function : key == "pointer" ? expected.pointer : expected.code) = value;
    }
    return expected;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// Where the faulting instruction lies.
enum class Where { kHelper, kCLibrary, kNoModule };

struct FaultCase {
    const char* name;
    const char* fault;       // the helper's argument
    int signal;              // the signal the process must end with
    uint64_t exceptionCode;  // the signal number; 0 for the run-time failures
    const char* exceptionText;
    Where where;
    const char* logText = nullptr;  // a further line the log must hold
};

const FaultCase kCases[] = {
    {"NullRead", "null-read", SIGSEGV, SIGSEGV, "Unhandled exception", Where::kHelper},
    {"StackOverflow", "stack-overflow", SIGSEGV, SIGSEGV, "Unhandled exception", Where::kHelper},
    {"BusError", "bus-error", SIGBUS, SIGBUS, "Unhandled exception", Where::kHelper},
    {"IllegalInstruction", "illegal-instruction", SIGILL, SIGILL, "Unhandled exception", Where::kHelper},
    {"DivideByZero", "divide-by-zero", SIGFPE, SIGFPE, "Unhandled exception", Where::kHelper},
    {"CodeOutsideEveryModule", "unknown-module", SIGILL, SIGILL, "Unhandled exception", Where::kNoModule},
    {"FaultOnOtherThread", "other-thread", SIGSEGV, SIGSEGV, "Unhandled exception", Where::kHelper},
    {"FaultOnTwoThreadsAtOnce", "two-threads", SIGSEGV, SIGSEGV, "Unhandled exception", Where::kHelper},
    {"FaultInsideCallback", "callback-faults", SIGSEGV, SIGSEGV, "Unhandled exception", Where::kHelper},
    {"EnabledTwice", "enable-twice", SIGSEGV, SIGSEGV, "Unhandled exception", Where::kHelper,
     "Crash handler already active"},
    {"Abort", "abort", SIGABRT, SIGABRT, "Unhandled exception", Where::kCLibrary},
    {"UncaughtException", "uncaught-exception", SIGABRT, SIGABRT, "Unhandled exception", Where::kCLibrary},
    {"PureVirtualCall", "pure-call", SIGABRT, 0, "Pure virtual function call", Where::kCLibrary},
    {"AllocationFailure", "allocation-failure", SIGABRT, 0, "Error allocating memory", Where::kCLibrary},
};

void PrintTo(const FaultCase& fault, std::ostream* out) {
    *out << fault.name;
}

// Whether the log holds the text, starting on a line of critical level.
bool loggedCritical(const std::string& log, const std::string& text) {
    const size_t found = log.find(text);
    if (found == std::string::npos) {
        return false;
    }
    const size_t newline = log.rfind('\n', found);
    const size_t lineStart = newline == std::string::npos ? 0 : newline;
    return log.substr(lineStart, found - lineStart).find("[critical]") != std::string::npos;
}

class CrashReportTest : public testing::TestWithParam<FaultCase> {};

TEST_P(CrashReportTest, WritesReportAndEndsWithTheSignal) {
    const FaultCase& fault = GetParam();
    Folder folder;
    ASSERT_FALSE(folder.path().empty());

    const int64_t before = std::time(nullptr);
    const int status = runHelper(folder.path(), fault.fault);
    const int64_t after = std::time(nullptr);

    ASSERT_TRUE(WIFSIGNALED(status)) << "wait status " << status;
    EXPECT_EQ(WTERMSIG(status), fault.signal);

    // The callback ran once and stored the message under its digest.
    EXPECT_EQ(readFile(folder.path() + "/calls"), "callback\n");
    std::vector<fs::path> stored;
    std::error_code missing;
    for (const auto& entry : fs::directory_iterator(folder.path() + "/CrashReports", missing)) {
        stored.push_back(entry.path());
    }
    ASSERT_EQ(stored.size(), 1u);
    const std::string message = readFile(stored[0]);
    EXPECT_EQ(stored[0].filename().string(), sha224Hex(message));

    // Size-prefixed, identified, padded to the alignment, and well formed.
    ASSERT_GE(message.size(), 12u);
    const auto* bytes = reinterpret_cast<const uint8_t*>(message.data());
    const uint32_t prefix = flatbuffers::ReadScalar<uint32_t>(bytes);
    EXPECT_EQ(prefix, message.size() - 4);
    EXPECT_EQ(message.substr(8, 4), "CRRM");
    EXPECT_EQ(message.size() % 8, 0u);
    flatbuffers::Verifier verifier(bytes, message.size(), 64, 1000000);
    ASSERT_TRUE(VerifySizePrefixedCrashReportMessageBuffer(verifier));
    const CrashReportMessage* report = GetSizePrefixedCrashReportMessage(bytes);

    ASSERT_NE(report->os(), nullptr);
    EXPECT_EQ(report->os()->str(), operatingSystem());
    ASSERT_NE(report->appName(), nullptr);
    EXPECT_EQ(report->appName()->str(), "crash-helper");
    ASSERT_NE(report->appVersion(), nullptr);
    EXPECT_EQ(report->appVersion()->str(), "42");
    ASSERT_NE(report->sdkVersion(), nullptr);
    EXPECT_EQ(report->sdkVersion()->str(), "7438a6d2");
    EXPECT_GE(report->timestamp(), before);
    EXPECT_LE(report->timestamp(), after);
    EXPECT_EQ(report->exceptionCode(), fault.exceptionCode);
    ASSERT_NE(report->exceptionText(), nullptr);
    EXPECT_EQ(report->exceptionText()->str(), fault.exceptionText);
    EXPECT_EQ(report->text(), nullptr);
    ASSERT_NE(report->crashModule(), nullptr);
    ASSERT_NE(report->stack(), nullptr);
    ASSERT_GE(report->stack()->size(), 1u);

    // The backtrace starts at the faulting instruction.
    const std::string crashModule = report->crashModule()->str();
    const StackFrame* innermost = report->stack()->Get(0);
    const Expected expected = readExpected(folder.path());
    if (fault.where == Where::kNoModule) {
        // Named after the main program, without an offset; the frame holds the absolute address.
        EXPECT_EQ(crashModule, kHelperName);
        EXPECT_EQ(report->crashAddress(), kNoAddress);
        EXPECT_EQ(innermost->moduleName()->str(), "Unknown");
        EXPECT_EQ(innermost->moduleAddress(), expected.code);
    } else {
        EXPECT_EQ(innermost->moduleName()->str(), crashModule);
        EXPECT_EQ(innermost->moduleAddress(), report->crashAddress());
    }
    if (fault.where == Where::kHelper) {
        EXPECT_EQ(crashModule, kHelperName);
        ASSERT_NE(expected.function, kNoAddress);
        EXPECT_GE(report->crashAddress(), expected.function);
        EXPECT_LT(report->crashAddress(), expected.function + kFunctionSpan);
    } else if (fault.where == Where::kCLibrary) {
        EXPECT_EQ(crashModule.rfind("libc.so", 0), 0u) << crashModule;
        bool throughHelper = false;
        for (const StackFrame* frame : *report->stack()) {
            throughHelper = throughHelper || frame->moduleName()->str() == kHelperName;
        }
        EXPECT_TRUE(throughHelper);
    }
    const bool touchesMemory = fault.signal == SIGSEGV || fault.signal == SIGBUS;
    if (expected.pointer != kNoAddress) {
        EXPECT_EQ(report->crashPointer(), expected.pointer);
    } else if (touchesMemory) {
        EXPECT_NE(report->crashPointer(), 0u);
        EXPECT_NE(report->crashPointer(), kNoAddress);
    } else {
        EXPECT_EQ(report->crashPointer(), 0u);
    }

    // The readable report states the same facts, line by line.
    const std::string text = readFile(folder.path() + "/report.txt");
    const std::vector<std::string> lines = splitLines(text);
    const size_t frames = report->stack()->size();
    ASSERT_EQ(lines.size(), 4 + frames) << text;
    EXPECT_EQ(lines[0], "Timestamp: " + std::to_string(report->timestamp()));
    EXPECT_EQ(lines[1], "Operating System: " + operatingSystem());
    EXPECT_EQ(lines[2], "Application name: crash-helper 42 (7438a6d2)");
    std::string faultLine =
        fault.exceptionCode != 0 ? "Exception [0x" + hex(fault.exceptionCode) + "]" : std::string(fault.exceptionText);
    faultLine += " at " + crashModule + "(+0x" + hex(report->crashAddress()) + ")";
    if (touchesMemory) {
        faultLine += " accessing: 0x" + hex(report->crashPointer());
    }
    EXPECT_EQ(lines[3], faultLine);
    for (size_t i = 0; i < frames; ++i) {
        const StackFrame* frame = report->stack()->Get(static_cast<flatbuffers::uoffset_t>(i));
        const std::string number = "[bt] " + std::to_string(i + 1) + " ";
        const std::string& line = lines[4 + i];
        if (frame->moduleName()->str() == "Unknown") {
            EXPECT_EQ(line, number + "Unknown [0x" + hex(frame->moduleAddress()) + "]");
        } else {
            const std::string start =
                number + frame->moduleName()->str() + "(+0x" + hex(frame->moduleAddress()) + ") [0x";
            EXPECT_EQ(line.rfind(start, 0), 0u) << line;
            EXPECT_EQ(line.back(), ']') << line;
        }
    }

    // Logged at critical level and flushed before the process ended.
    const std::string log = readFile(folder.path() + "/log.txt");
    EXPECT_TRUE(loggedCritical(log, "Crash detected. Report:\n" + text)) << log;
    if (fault.logText != nullptr) {
        EXPECT_NE(log.find(fault.logText), std::string::npos) << log;
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, CrashReportTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

TEST(CrashReportWithoutCallbackTest, LogsTheReportAndExitsWithOne) {
    Folder folder;
    ASSERT_FALSE(folder.path().empty());

    const int status = runHelper(folder.path(), "no-callback");

    ASSERT_TRUE(WIFEXITED(status)) << "wait status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_FALSE(fs::exists(folder.path() + "/calls"));
    EXPECT_FALSE(fs::exists(folder.path() + "/CrashReports"));
    const std::string log = readFile(folder.path() + "/log.txt");
    EXPECT_TRUE(loggedCritical(log, "Crash detected. Report:\nTimestamp: ")) << log;
    EXPECT_NE(log.find("Exception [0xB] at crash_helper(+0x"), std::string::npos) << log;
}

}  // namespace
}  // namespace corvane
