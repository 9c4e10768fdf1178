// Enables the crash handler the way the application does and then faults in the way its
// second argument names. crash_manager_test runs it in a child process.
//
// Usage: crash_helper <folder> <fault>
// Into the folder it writes "expected" (where the fault should be reported, before faulting),
// "log.txt" (the SDK log), and from the callback: one line per call in "calls", the text
// report in "report.txt" and the message in CrashReports/<SHA-224 hex of the message>.

#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>

#include <openssl/evp.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>

#include "crash/crash_manager.h"
#include "util/log.h"

extern "C" char __executable_start;
// Defined by every sanitizer runtime; null in a plain build.
extern "C" void __sanitizer_print_stack_trace() __attribute__((weak));

namespace {

std::string gFolder;
int* volatile gNull = nullptr;
volatile bool gRecurse = true;
char* volatile gBlock = nullptr;

void writeFile(const std::string& path, const std::string& data, int flags) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | flags, 0644);
    if (fd < 0) {
        return;
    }
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t written = write(fd, data.data() + done, data.size() - done);
        if (written <= 0) {
            break;
        }
        done += static_cast<size_t>(written);
    }
    close(fd);
}

std::string sha224Hex(const std::string& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha224(), nullptr);
    std::string hex;
    char pair[3];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(pair, sizeof(pair), "%02x", digest[i]);
        hex += pair;
    }
    return hex;
}

// Stands in for the application's callback: stores the message under its digest.
corvane::CrashCallback makeCallback(std::string tag) {
    return [tag](std::string report, std::string message) {
        writeFile(gFolder + "/calls", tag + "\n", O_APPEND);
        writeFile(gFolder + "/report.txt", report, O_TRUNC);
        const std::string reports = gFolder + "/CrashReports";
        mkdir(reports.c_str(), 0755);
        writeFile(reports + "/" + sha224Hex(message), message, O_TRUNC);
    };
}

// The helper's offset in its own file, found from the ELF header rather than the loader.
uint64_t offsetInHelper(const void* address) {
    const auto* header = reinterpret_cast<const ElfW(Ehdr)*>(&__executable_start);
    const uintptr_t base = header->e_type == ET_DYN ? reinterpret_cast<uintptr_t>(&__executable_start) : 0;
    return reinterpret_cast<uintptr_t>(address) - base;
}

void expect(const void* function, const char* pointerLine = nullptr) {
    std::string text = "function " + std::to_string(offsetInHelper(function)) + "\n";
    if (pointerLine != nullptr) {
        text += pointerLine;
    }
    writeFile(gFolder + "/expected", text, O_TRUNC);
}

__attribute__((noinline)) int readNull() {
    return *gNull;
}

__attribute__((noinline)) int overflowStack(int depth) {
    if (!gRecurse) {
        return 0;
    }
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    // Not a tail call, so every level keeps its frame.
    return overflowStack(depth + 1) + frame[0];
}

__attribute__((noinline)) int readPastFile(const volatile char* mapped) {
    return mapped[0];
}

int busError() {
    // Reading a mapped page past the end of an empty file raises SIGBUS.
    const std::string path = gFolder + "/empty";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    void* mapped = mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0);
    if (fd < 0 || mapped == MAP_FAILED) {
        return 2;
    }
    const std::string pointer = "pointer " + std::to_string(reinterpret_cast<uintptr_t>(mapped)) + "\n";
    expect(reinterpret_cast<const void*>(&readPastFile), pointer.c_str());
    return readPastFile(static_cast<const char*>(mapped));
}

__attribute__((noinline)) void illegalInstruction() {
    __builtin_trap();
}

// Runs an illegal instruction from an anonymous mapping, which no loaded module holds.
int runCodeOutsideModules() {
    void* code = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (code == MAP_FAILED) {
        return 2;
    }
#if defined(__x86_64__) || defined(__i386__)
    const unsigned char instruction[] = {0x0F, 0x0B};  // ud2
#elif defined(__aarch64__)
    const unsigned char instruction[] = {0x00, 0x00, 0x00, 0x00};  // udf #0
#endif
    std::memcpy(code, instruction, sizeof(instruction));
    if (mprotect(code, 4096, PROT_READ | PROT_EXEC) != 0) {
        return 2;
    }
    const std::string line = "code " + std::to_string(reinterpret_cast<uintptr_t>(code)) + "\n";
    writeFile(gFolder + "/expected", line, O_TRUNC);
    reinterpret_cast<void (*)()>(code)();
    return 2;
}

__attribute__((noinline)) int divideByZero() {
#if defined(__x86_64__) || defined(__i386__)
    // Both volatile: a known dividend lets the compiler replace the division by a comparison.
    volatile int dividend = 1;
    volatile int zero = 0;
    return dividend / zero;
#else
    // Integer division does not trap here.
    return raise(SIGFPE);
#endif
}

struct Base;
__attribute__((noinline)) void callRun(Base* base);

struct Base {
    Base() { callRun(this); }
    virtual ~Base() = default;
    virtual void run() = 0;
};

struct Derived : Base {
    void run() override {}
};

void callRun(Base* base) {
    // Hide the dynamic type so that the call goes through the vtable, which is still Base's.
    asm volatile("" : "+r"(base));
    base->run();
}

__attribute__((noinline)) void failAllocation() {
    if (&__sanitizer_print_stack_trace != nullptr) {
        // A sanitizer's operator new reports and dies itself instead of calling the new
        // handler: call the installed handler as operator new does when memory runs out.
        std::get_new_handler()();
        return;
    }
    volatile size_t huge = SIZE_MAX / 2;
    // Kept, so that the compiler may not leave the allocation out.
    gBlock = new char[huge];
}

__attribute__((noinline)) void throwUncaught() {
    throw std::runtime_error("not caught");
}

int fault(const std::string& kind) {
    if (kind == "null-read" || kind == "no-callback" || kind == "enable-twice" || kind == "callback-faults") {
        expect(reinterpret_cast<const void*>(&readNull), "pointer 0\n");
        return readNull();
    }
    if (kind == "stack-overflow") {
        expect(reinterpret_cast<const void*>(&overflowStack));
        return overflowStack(0);
    }
    if (kind == "bus-error") {
        return busError();
    }
    if (kind == "unknown-module") {
        return runCodeOutsideModules();
    }
    if (kind == "illegal-instruction") {
        expect(reinterpret_cast<const void*>(&illegalInstruction));
        illegalInstruction();
    } else if (kind == "divide-by-zero") {
        expect(reinterpret_cast<const void*>(&divideByZero));
        return divideByZero();
    } else if (kind == "other-thread") {
        expect(reinterpret_cast<const void*>(&readNull), "pointer 0\n");
        std::thread([] { readNull(); }).join();
    } else if (kind == "two-threads") {
        // Both threads fault at once: one report, and the other thread waits for the end.
        expect(reinterpret_cast<const void*>(&readNull), "pointer 0\n");
        std::atomic<int> waiting{2};
        auto faultTogether = [&waiting] {
            waiting.fetch_sub(1);
            while (waiting.load() != 0) {
            }
            readNull();
        };
        std::thread first(faultTogether);
        std::thread second(faultTogether);
        first.join();
        second.join();
    } else if (kind == "abort") {
        std::abort();
    } else if (kind == "uncaught-exception") {
        throwUncaught();
    } else if (kind == "pure-call") {
        Derived derived;
    } else if (kind == "allocation-failure") {
        failAllocation();
    }
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: crash_helper <folder> <fault>\n");
        return 2;
    }
    gFolder = argv[1];
    const std::string kind = argv[2];

    auto logger = spdlog::basic_logger_mt("crash_helper", gFolder + "/log.txt", true);
    logger->set_level(spdlog::level::trace);
    corvane::log::set(logger);

    corvane::CrashManager manager;
    if (kind == "enable-twice") {
        manager.enable("crash-helper", "42", makeCallback("replaced"));
    }
    corvane::CrashCallback callback = makeCallback("callback");
    if (kind == "no-callback") {
        callback = nullptr;
    } else if (kind == "callback-faults") {
        // A second fault inside the handler must end the process, not report again or hang.
        callback = [store = std::move(callback)](std::string report, std::string message) {
            store(std::move(report), std::move(message));
            readNull();
        };
    }
    manager.enable("crash-helper", "42", std::move(callback));
    return fault(kind);
}
