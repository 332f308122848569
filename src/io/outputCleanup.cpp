#include "io/outputCleanup.h"

#include <unistd.h>

#include <atomic>
#include <climits>
#include <csignal>
#include <cstring>
#include <mutex>

#include "io/outputFile.h"

namespace kestrune::detail {

namespace {

// Temporary files that a signal must remove: each entry holds the folder's descriptor
// (-1 when free, -2 while being filled in) and the name in it. The handler reads them
// with nothing but atomic loads and unlinkat, which are async-signal-safe.
constexpr int kTempSlots = kMaxTemporaryOutputs;
constexpr std::size_t kTempNameSize = sizeof kTempPrefix + kTempRandom;

struct TempSlot {
    std::atomic<int> folder{-1};
    char name[kTempNameSize];
};
static_assert(std::atomic<int>::is_always_lock_free);
TempSlot tempSlots[kTempSlots];
std::atomic<bool> terminalLineOpen{false};
// Folders made for outputs; the first `madeFolderCount` are complete.
constexpr int kFolderSlots = 64;
char madeFolders[kFolderSlots][PATH_MAX];
std::atomic<int> madeFolderCount{0};

extern "C" void removeTempsAndDie(int sig) {
    for (TempSlot& s : tempSlots) {
        const int folder = s.folder.load(std::memory_order_acquire);
        if (folder >= 0) unlinkat(folder, s.name, 0);
    }
    for (int i = madeFolderCount.load(std::memory_order_acquire); i-- > 0;) rmdir(madeFolders[i]);
    if (terminalLineOpen.load()) (void)!write(STDERR_FILENO, "\n", 1);
    std::signal(sig, SIG_DFL);
    std::raise(sig);  // delivered, with its default action, once the handler returns
}

// Every signal whose default action ends the process, but the two that cannot be caught.
// A signal the caller chose to ignore stays ignored. An exceeded file-size limit is
// ignored instead, so the write fails and the run reports it like any other write error.
constexpr int kFatal[] = {SIGHUP,  SIGINT,  SIGQUIT,   SIGILL,  SIGTRAP, SIGABRT,
                          SIGBUS,  SIGFPE,  SIGUSR1,   SIGSEGV, SIGUSR2, SIGPIPE,
                          SIGALRM, SIGTERM, SIGSTKFLT, SIGXCPU, SIGXFSZ, SIGVTALRM,
                          SIGPROF, SIGPOLL, SIGPWR,    SIGSYS};

void install(int sig) {
    struct sigaction old {};
    if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) return;
    struct sigaction sa {};
    sa.sa_handler = sig == SIGXFSZ ? SIG_IGN : removeTempsAndDie;
    sigfillset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
}

}  // namespace

void installSignalHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (const int sig : kFatal) install(sig);
        for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) install(sig);
    });
}

void outputMarkTerminalLine(bool open) {
    installSignalHandlers();
    terminalLineOpen.store(open);
}

int claimSlot() {
    for (int i = 0; i < kTempSlots; ++i) {
        int expected = -1;
        if (tempSlots[i].folder.compare_exchange_strong(expected, -2)) return i;
    }
    return -1;
}

void armSlot(int slot, int folder, const std::string& name) {
    std::memcpy(tempSlots[slot].name, name.c_str(), name.size() + 1);
    tempSlots[slot].folder.store(folder, std::memory_order_release);
}

void noteMadeFolder(const std::string& path) {
    installSignalHandlers();
    const int i = madeFolderCount.load();
    if (i == kFolderSlots || path.size() >= PATH_MAX) return;
    std::memcpy(madeFolders[i], path.c_str(), path.size() + 1);
    madeFolderCount.store(i + 1, std::memory_order_release);
}

void releaseSlot(int slot) {
    if (slot >= 0) tempSlots[slot].folder.store(-1, std::memory_order_release);
}

}  // namespace kestrune::detail
