// Many files at once: conversions on worker threads, outputs committed on threads of their
// own, results reported in the files' order, a progress line on a terminal, and never more
// files open than the process may open.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "tool/jobs.h"

namespace kestrune::tool {

// How many conversions may run at once, and how many written outputs may wait for their
// commit, within the open-file limit (raised to its hard limit first).
struct BatchSize {
    unsigned jobs;
    std::size_t waiting;
    std::size_t openLimit;  // the open-file limit in force
};
BatchSize fitBatch(unsigned wantedJobs);

// Runs work(i) for every file, and hands the results to report in the files' order as
// they become ready. Outputs are committed (synced and renamed) on threads of their own,
// so that waiting for the disk overlaps the next conversions; each folder's new names are
// synced once, as the batch ends. With `progressLine`, a progress line is kept up to date
// on `terminal` meanwhile.
std::vector<FileResult> runAll(std::size_t files, const BatchSize& size,
                               const std::function<FileResult(std::size_t)>& work,
                               const std::function<void(const FileResult&)>& report,
                               const std::function<std::string()>& progressLine, FILE* terminal);

// Folders whose new names are yet to be synced: each once, when a batch ends.
class FolderSyncs {
public:
    FolderSyncs() = default;
    FolderSyncs(const FolderSyncs&) = delete;
    FolderSyncs& operator=(const FolderSyncs&) = delete;
    ~FolderSyncs();
    void add(int folder);                        // takes the descriptor over; -1 is nothing
    static constexpr std::size_t kMaxOpen = 64;  // more are synced and closed at once

private:
    std::vector<int> folders_;
};

// Syncs and renames the output into place; a failure turns the result into one. Returns
// the output's folder, whose sync is left to the caller (FolderSyncs), or -1.
int commitFile(FileResult* result);
// What the progress line is made of.
struct ProgressFigures {
    std::size_t files = 0, started = 0, measured = 0, done = 0;
    double audioSeconds = 0;    // converted
    double knownSeconds = 0;    // the length of the files measured
    double elapsedSeconds = 0;  // since the batch began
};
// "3/10 files, 12.3 s of audio, 45.6x real time, 0:03 left"
std::string progressText(const ProgressFigures& figures);
std::function<std::string()> progressRenderer(const Progress& progress, std::size_t files);

}  // namespace kestrune::tool
