#include "tool/batch.h"

#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "io/outputFile.h"
#include "io/status.h"

namespace kestrune::tool {

namespace {

// Descriptors a conversion holds at most (the input, or its temporary copy; the output
// and its folder), one waiting for its commit (the output and its folder), and those kept
// for the process itself and for folders waiting for their sync.
constexpr std::size_t kPerJob = 3;
constexpr std::size_t kPerWaiting = 2;
constexpr std::size_t kReserved = 32 + FolderSyncs::kMaxOpen;

std::size_t openDescriptors() {
    std::size_t n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d) != nullptr) ++n;
        closedir(d);
    }
    return n;
}

}  // namespace

BatchSize fitBatch(unsigned wantedJobs) {
    struct rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 1 << 16);
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    const std::size_t open = std::min<std::size_t>(limit.rlim_cur, 1 << 20);
    const std::size_t used = openDescriptors() + kReserved;
    const std::size_t free = open > used ? open - used : 0;
    const std::size_t slots = detail::kMaxTemporaryOutputs;
    BatchSize size{};
    size.openLimit = open;
    size.jobs = static_cast<unsigned>(std::clamp<std::size_t>(
        std::min<std::size_t>(free / (kPerJob + kPerWaiting), slots / 2), 1, wantedJobs));
    const std::size_t left = free > kPerJob * size.jobs ? free - kPerJob * size.jobs : 0;
    size.waiting = std::clamp<std::size_t>(
        std::min({4 * std::size_t{size.jobs}, left / kPerWaiting, slots - size.jobs}), 1,
        4 * std::size_t{size.jobs});
    return size;
}

std::vector<FileResult> runAll(std::size_t files, const BatchSize& size,
                               const std::function<FileResult(std::size_t)>& work,
                               const std::function<void(const FileResult&)>& report,
                               const std::function<std::string()>& progressLine, FILE* terminal) {
    std::vector<FileResult> results(files);
    std::vector<bool> ready(files, false);
    std::deque<std::size_t> toCommit;
    std::size_t committing = 0;  // taken from toCommit, not yet ready
    std::mutex mutex;
    std::condition_variable changed;
    std::atomic<std::size_t> next{0};
    std::size_t converted = 0;
    FolderSyncs folders;  // under the mutex
    const std::size_t workers = std::min<std::size_t>(size.jobs, files);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < workers; ++t) {
        threads.emplace_back([&] {
            for (std::size_t i; (i = next++) < files;) {
                FileResult r = work(i);
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return toCommit.size() + committing < size.waiting; });
                const bool commit = r.uncommitted.fp != nullptr;
                results[i] = std::move(r);
                ++converted;
                if (commit) {
                    toCommit.push_back(i);
                } else {
                    ready[i] = true;
                }
                changed.notify_all();
            }
        });
    }
    for (std::size_t t = 0; t < std::min<std::size_t>(workers, 32); ++t) {
        threads.emplace_back([&] {
            for (;;) {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return !toCommit.empty() || converted == files; });
                if (toCommit.empty()) return;
                const std::size_t i = toCommit.front();
                toCommit.pop_front();
                ++committing;
                lock.unlock();
                const int folder = commitFile(&results[i]);
                lock.lock();
                folders.add(folder);
                --committing;
                ready[i] = true;
                changed.notify_all();
            }
        });
    }
    bool drawn = false;
    for (std::size_t i = 0; i < files; ++i) {
        std::unique_lock<std::mutex> lock(mutex);
        while (!ready[i]) {
            if (progressLine) {
                lock.unlock();
                detail::outputMarkTerminalLine(true);
                std::fprintf(terminal, "\r\033[K%s", progressLine().c_str());
                std::fflush(terminal);
                drawn = true;
                lock.lock();
            }
            changed.wait_for(lock, std::chrono::milliseconds(200));
        }
        lock.unlock();
        if (drawn) std::fputs("\r\033[K", terminal);
        drawn = false;
        detail::outputMarkTerminalLine(false);
        report(results[i]);
    }
    {
        const std::lock_guard<std::mutex> lock(mutex);
        changed.notify_all();
    }
    for (std::thread& t : threads) t.join();
    return results;
}

namespace {

std::string minutesAndSeconds(double seconds) {
    const auto s = static_cast<long>(std::lround(seconds));
    char buf[32];
    std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
    return buf;
}

std::string fixed(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", v);
    return buf;
}

}  // namespace

std::string progressText(const ProgressFigures& f) {
    std::string line = std::to_string(f.done) + "/" + std::to_string(f.files) + " files, " +
                       fixed(f.audioSeconds) + " s of audio";
    if (f.elapsedSeconds > 0.5 && f.audioSeconds > 0 && f.measured > 0) {
        const double speed = f.audioSeconds / f.elapsedSeconds;
        line += ", " + fixed(speed) + "x real time";
        // The audio of the files started is known; those not yet started are taken to be
        // as long as those measured are on average.
        const double unstarted = static_cast<double>(f.files - std::min(f.started, f.files));
        const double total = f.knownSeconds + f.knownSeconds / f.measured * unstarted;
        if (total > f.audioSeconds) {
            line += ", " + minutesAndSeconds((total - f.audioSeconds) / speed) + " left";
        }
    }
    return line;
}

std::function<std::string()> progressRenderer(const Progress& progress, std::size_t files) {
    const auto start = std::chrono::steady_clock::now();
    return [&progress, files, start] {
        ProgressFigures f;
        f.files = files;
        f.started = progress.filesStarted;
        f.measured = progress.filesMeasured;
        f.done = progress.filesDone;
        f.audioSeconds = static_cast<double>(progress.audioMicroseconds) / 1e6;
        f.knownSeconds = static_cast<double>(progress.knownMicroseconds) / 1e6;
        f.elapsedSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return progressText(f);
    };
}

FolderSyncs::~FolderSyncs() {
    for (const int folder : folders_) {
        fsync(folder);
        close(folder);
    }
}

void FolderSyncs::add(int folder) {
    if (folder < 0) return;
    struct stat st, other;
    for (const int known : folders_) {
        if (fstat(folder, &st) == 0 && fstat(known, &other) == 0 && st.st_dev == other.st_dev &&
            st.st_ino == other.st_ino) {
            close(folder);
            return;
        }
    }
    // Outputs beside inputs in many folders: the oldest is synced now, a few stay open.
    if (folders_.size() == kMaxOpen) {
        fsync(folders_.front());
        close(folders_.front());
        folders_.erase(folders_.begin());
    }
    folders_.push_back(folder);
}

int commitFile(FileResult* r) {
    if (r->uncommitted.fp == nullptr) return -1;
    int folder = -1;
    const int status = detail::outputCommit(&r->uncommitted, &folder);
    if (status != kStatusFinished) {
        const std::string input = r->input, output = r->output, why = r->uncommitted.problem;
        *r = FileResult{};
        r->input = input;
        r->output = output;
        outputFailed(r, status, why);
    }
    return folder;
}

}  // namespace kestrune::tool
