#include "crash/crash_manager.h"

#include <execinfo.h>
#include <link.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <string_view>

#include <flatbuffers/flatbuffers.h>

#include "crash_report_message_generated.h"
#include "util/log.h"

// The handler below runs inside a signal handler of a process in an unknown state. It keeps to
// system calls and to fixed static buffers wherever the report allows; the steps that cannot
// (the logger, the callback's two strings) come last, once everything else is in place.

namespace corvane {
namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
// Room for the handler, the logger's formatting and the larger frames of sanitizer builds.
constexpr size_t kAltStackSize = 256 * 1024;
// Keeps the message well under the 32,708 bytes that the crash-report upload accepts.
constexpr int kMaxFrames = 64;
// The handler's own frames and the signal trampoline, captured before the faulting frame.
constexpr int kHandlerFrames = 8;
constexpr size_t kReportCapacity = 32 * 1024;
constexpr size_t kArenaSize = 128 * 1024;
constexpr size_t kInitialMessageSize = 4096;
constexpr size_t kMessageAlignment = 8;
constexpr size_t kPathCapacity = 4096;
constexpr size_t kFailureTextCapacity = 128;
constexpr uint64_t kNoOffset = ~uint64_t(0);
constexpr const char* kUnknownModule = "Unknown";
constexpr const char* kUnhandledException = "Unhandled exception";
constexpr const char* kAllocationFailure = "Error allocating memory";
constexpr const char* kPureCall = "Pure virtual function call";

// Process-wide state: written by enable() before faults can be reported, read by the handler.
std::string gAppName;
std::string gAppVersion;
CrashCallback gCallback;
// A fixed buffer, not a string: the allocation-failure handler must not allocate.
char gFailureText[kFailureTextCapacity];
// Thread id of the thread writing the report; 0 while none is.
std::atomic<long> gHandlingThread{0};
static_assert(std::atomic<long>::is_always_lock_free, "the handler needs a lock-free flag");
thread_local bool tAltStackInstalled = false;

void setFailureText(const char* text) {
    const size_t length = std::min(std::strlen(text), kFailureTextCapacity - 1);
    std::memcpy(gFailureText, text, length);
    gFailureText[length] = '\0';
}

// Appends to a fixed buffer and never allocates; text past the end is dropped.
class TextBuffer {
public:
    TextBuffer(char* data, size_t capacity) : data_(data), capacity_(capacity) {}

    TextBuffer& operator<<(std::string_view text) {
        const size_t length = std::min(text.size(), capacity_ - size_);
        std::memcpy(data_ + size_, text.data(), length);
        size_ += length;
        return *this;
    }

    TextBuffer& decimal(int64_t value) {
        if (value < 0) {
            *this << "-";
            return digits(0 - static_cast<uint64_t>(value), 10);
        }
        return digits(static_cast<uint64_t>(value), 10);
    }

    // Upper-case hexadecimal without leading zeros.
    TextBuffer& hex(uint64_t value) { return digits(value, 16); }

    std::string_view view() const { return std::string_view(data_, size_); }

private:
    TextBuffer& digits(uint64_t value, unsigned base) {
        char reversed[24];
        size_t count = 0;
        do {
            reversed[count++] = "0123456789ABCDEF"[value % base];
            value /= base;
        } while (value != 0);
        char ordered[24];
        for (size_t i = 0; i < count; ++i) {
            ordered[i] = reversed[count - 1 - i];
        }
        return *this << std::string_view(ordered, count);
    }

    char* data_;
    size_t capacity_;
    size_t size_ = 0;
};

// The FlatBuffers builder's memory: a static arena, so building the message needs no heap.
class ArenaAllocator final : public flatbuffers::Allocator {
public:
    uint8_t* allocate(size_t size) override {
        const size_t rounded = (size + 15) & ~size_t(15);
        if (rounded <= kArenaSize - used_) {
            uint8_t* block = arena_ + used_;
            used_ += rounded;
            return block;
        }
        // Only a report far beyond the frame limit gets here.
        return static_cast<uint8_t*>(std::malloc(size));
    }

    void deallocate(uint8_t* block, size_t) override {
        if (block < arena_ || block >= arena_ + kArenaSize) {
            std::free(block);
        }
    }

private:
    alignas(16) uint8_t arena_[kArenaSize];
    size_t used_ = 0;
};

ArenaAllocator gArena;

struct Module {
    const char* name = nullptr;  // file name; null when no module holds the address
    uint64_t offset = kNoOffset;
};

struct ModuleQuery {
    uintptr_t address;
    const char* path;
    uintptr_t base;
    bool found;
};

int matchModule(dl_phdr_info* info, size_t, void* data) {
    auto* query = static_cast<ModuleQuery*>(data);
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        if (segment.p_type != PT_LOAD) {
            continue;
        }
        const uintptr_t start = info->dlpi_addr + segment.p_vaddr;
        if (query->address >= start && query->address - start < segment.p_memsz) {
            query->path = info->dlpi_name;
            query->base = info->dlpi_addr;
            query->found = true;
            return 1;
        }
    }
    return 0;
}

const char* fileName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

// dl_iterate_phdr walks the loader's list under its recursive lock and allocates nothing;
// the names it hands out stay valid while the module is loaded.
Module findModule(uintptr_t address, const char* executableName) {
    ModuleQuery query{address, nullptr, 0, false};
    dl_iterate_phdr(matchModule, &query);
    if (!query.found) {
        return Module();
    }
    // The loader lists the main program without a name.
    const char* name = query.path != nullptr && query.path[0] != '\0' ? fileName(query.path) : executableName;
    return Module{name, address - query.base};
}

uintptr_t instructionPointer(const void* context) {
    const auto* machine = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
    return static_cast<uintptr_t>(machine->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
    return static_cast<uintptr_t>(machine->uc_mcontext.pc);
#else
    (void)machine;
    return 0;
#endif
}

// The report's working memory, at namespace scope so that the handler initialises nothing:
// the alternate stack is small, and the heap may be what failed.
char gReport[kReportCapacity];
char gExecutablePath[kPathCapacity];
char gOs[sizeof(utsname::sysname) + sizeof(utsname::release) + 1];
utsname gNames;
void* gFrames[kMaxFrames + kHandlerFrames];
Module gFrameModules[kMaxFrames];

void writeReport(int signal, const siginfo_t* info, const void* context) {
    // clock_gettime, uname and readlink are async-signal-safe system calls.
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const int64_t timestamp = now.tv_sec;

    TextBuffer osText(gOs, sizeof(gOs) - 1);
    if (uname(&gNames) == 0) {
        osText << gNames.sysname << " " << gNames.release;
    } else {
        osText << "Linux 0.0.0";
    }

    const char* executableName = kUnknownModule;
    const ssize_t pathLength = readlink("/proc/self/exe", gExecutablePath, sizeof(gExecutablePath) - 1);
    if (pathLength > 0) {
        gExecutablePath[pathLength] = '\0';
        executableName = fileName(gExecutablePath);
    }

    const uintptr_t faultAddress = instructionPointer(context);
    const Module faultModule = findModule(faultAddress, executableName);
    // Without a module the report names the main program, with no offset.
    const char* crashModule = faultModule.name != nullptr ? faultModule.name : executableName;
    const bool failure = gFailureText[0] != '\0';
    // si_addr is the touched address only for memory faults the kernel raised itself.
    const bool touchedMemory = (signal == SIGSEGV || signal == SIGBUS) && info->si_code > 0;
    const uint64_t crashPointer = touchedMemory ? reinterpret_cast<uintptr_t>(info->si_addr) : 0;

    TextBuffer text(gReport, sizeof(gReport));
    text << "Timestamp: ";
    text.decimal(timestamp) << "\n";
    text << "Operating System: " << osText.view() << "\n";
    text << "Application name: " << gAppName << " " << gAppVersion << " (" << CrashManager::kSdkVersion << ")\n";
    if (failure) {
        text << gFailureText;
    } else {
        text << "Exception [0x";
        text.hex(static_cast<uint64_t>(signal)) << "]";
    }
    text << " at " << crashModule << "(+0x";
    text.hex(faultModule.offset) << ")";
    if (touchedMemory) {
        text << " accessing: 0x";
        text.hex(crashPointer);
    }
    text << "\n";

    // enable() made the first call, which loads libgcc's unwinder; after it backtrace() only
    // reads the unwind tables, which the loader finds without locks (_dl_find_object).
    const int captured = backtrace(gFrames, kMaxFrames + kHandlerFrames);
    // Start at the faulting frame: the ones above it are this handler and the signal return.
    int first = 0;
    for (int i = 0; i < captured; ++i) {
        if (reinterpret_cast<uintptr_t>(gFrames[i]) == faultAddress) {
            first = i;
            break;
        }
    }
    const int frameCount = std::min(captured - first, kMaxFrames);
    if (frameCount <= 0) {
        text << "backtrace failed\n";
    }
    for (int i = 0; i < frameCount; ++i) {
        const uintptr_t address = reinterpret_cast<uintptr_t>(gFrames[first + i]);
        gFrameModules[i] = findModule(address, executableName);
        text << "[bt] ";
        text.decimal(i + 1) << " ";
        if (gFrameModules[i].name != nullptr) {
            text << gFrameModules[i].name << "(+0x";
            text.hex(gFrameModules[i].offset) << ") [0x";
        } else {
            text << kUnknownModule << " [0x";
        }
        text.hex(address) << "]\n";
    }

    // The logger formats and takes its lock, which no handler should; the report is complete
    // before it runs, and the flush gets it to disk before the process ends.
    CLOG_CRITICAL("Crash detected. Report:\n{}", text.view());
    log::flush();

    if (!gCallback) {
        // _exit rather than exit: static destructors and atexit handlers must not run while
        // other threads still use what they destroy. The log is already flushed.
        _exit(1);
    }

    flatbuffers::FlatBufferBuilder builder(kInitialMessageSize, &gArena, false);
    builder.ForceDefaults(false);
    // Raises the builder's minimum alignment, which the finish pads the whole buffer to.
    builder.Align(kMessageAlignment);
    flatbuffers::Offset<StackFrame> stack[kMaxFrames];
    for (int i = 0; i < frameCount; ++i) {
        const bool known = gFrameModules[i].name != nullptr;
        const auto moduleName = builder.CreateString(known ? gFrameModules[i].name : kUnknownModule);
        const uint64_t moduleAddress =
            known ? gFrameModules[i].offset : reinterpret_cast<uintptr_t>(gFrames[first + i]);
        stack[i] = CreateStackFrame(builder, moduleName, moduleAddress);
    }
    const auto stackVector = builder.CreateVector(stack, static_cast<size_t>(std::max(frameCount, 0)));
    const auto osOffset = builder.CreateString(osText.view().data(), osText.view().size());
    const auto appName = builder.CreateString(gAppName);
    const auto appVersion = builder.CreateString(gAppVersion);
    const auto sdkVersion = builder.CreateString(CrashManager::kSdkVersion);
    const auto crashModuleOffset = builder.CreateString(crashModule);
    const auto exceptionText = builder.CreateString(failure ? gFailureText : kUnhandledException);
    CrashReportMessageBuilder message(builder);
    message.add_os(osOffset);
    message.add_appName(appName);
    message.add_appVersion(appVersion);
    message.add_sdkVersion(sdkVersion);
    message.add_crashModule(crashModuleOffset);
    message.add_crashAddress(faultModule.offset);
    message.add_crashPointer(crashPointer);
    message.add_exceptionCode(failure ? 0 : static_cast<uint64_t>(signal));
    message.add_exceptionText(exceptionText);
    message.add_stack(stackVector);
    message.add_timestamp(timestamp);
    builder.FinishSizePrefixed(message.Finish(), CrashReportMessageIdentifier());

    // The callback takes two strings: the only heap use the report cannot avoid.
    try {
        gCallback(std::string(text.view()),
                  std::string(reinterpret_cast<const char*>(builder.GetBufferPointer()), builder.GetSize()));
    } catch (...) {
        // The process ends with the signal all the same.
    }
}

void endWithSignal(int signal) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    // sigaction and raise are async-signal-safe. The signal is blocked while its handler runs:
    // it is delivered, with the default action, as soon as the handler returns.
    raise(signal);
}

void onFatalSignal(int signal, siginfo_t* info, void* context) {
    const long self = syscall(SYS_gettid);
    long handling = 0;
    if (!gHandlingThread.compare_exchange_strong(handling, self)) {
        if (handling != self) {
            // Another thread is writing the report and ends the process when it is done; pause
            // is async-signal-safe and keeps this thread from running on in a broken state.
            for (;;) {
                pause();
            }
        }
        // A fault inside the handler itself: no second report.
        endWithSignal(signal);
        return;
    }
    writeReport(signal, info, context);
    endWithSignal(signal);
}

// Each thread has its own alternate stack; this gives one to the calling thread.
void installAlternateStack() {
    if (tAltStackInstalled) {
        return;
    }
    void* memory = mmap(nullptr, kAltStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (memory == MAP_FAILED) {
        CLOG_ERROR("No signal stack for the crash handler");
        return;
    }
    stack_t stack{};
    stack.ss_sp = memory;
    stack.ss_size = kAltStackSize;
    if (sigaltstack(&stack, nullptr) != 0) {
        munmap(memory, kAltStackSize);
        CLOG_ERROR("No signal stack for the crash handler");
        return;
    }
    tAltStackInstalled = true;
}

void onAllocationFailure() {
    setFailureText(kAllocationFailure);
    std::abort();
}

}  // namespace

void CrashManager::enable(std::string appName, std::string appVersion, CrashCallback callback) {
    if (gCallback) {
        CLOG_ERROR("Crash handler already active");
    }
    gAppName = std::move(appName);
    gAppVersion = std::move(appVersion);
    gCallback = std::move(callback);

    // The first backtrace() loads libgcc's unwinder, which allocates: do it now, not in the handler.
    void* frame[1];
    backtrace(frame, 1);

    installAlternateStack();
    struct sigaction action {};
    action.sa_sigaction = onFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    // A second fault of another kind inside the handler then ends the process at once.
    sigemptyset(&action.sa_mask);
    for (int signal : kFatalSignals) {
        sigaddset(&action.sa_mask, signal);
    }
    for (int signal : kFatalSignals) {
        sigaction(signal, &action, nullptr);
    }

    // operator new calls this when it finds no memory; the C allocation functions return null
    // instead and have no handler on Linux.
    std::set_new_handler(onAllocationFailure);
}

}  // namespace corvane

// The C++ runtime calls this for a call of a pure virtual function. It replaces the runtime's
// own version so that the report names the fault; like that version it then terminates, which
// aborts and reaches the handler through SIGABRT. Harmless before enable(): the text is unused.
extern "C" void __cxa_pure_virtual() {
    static constexpr char kRuntimeMessage[] = "pure virtual method called\n";
    [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, kRuntimeMessage, sizeof(kRuntimeMessage) - 1);
    corvane::setFailureText(corvane::kPureCall);
    std::terminate();
}
