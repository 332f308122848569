// The subcommands of kestrune-adpcm, and what they share: the inputs and outputs of a
// batch, the checks made before any work, and the run that reports as results come.
#pragma once

#include <CLI/CLI.hpp>
#include <algorithm>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tool/jobs.h"

// What encode, decode and pack take alike.
struct Common {
    std::vector<std::string> inputs;
    std::string output, folder;
    unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
    bool quiet = false, json = false, force = false;
    bool keep = false;  // -n: an output that exists is skipped
};

void addCommon(CLI::App* app, Common* c, const char* inputHelp);

struct PackArgs {
    std::string header, list;
    unsigned align = 4;
};

// With a report path, a listening report of the batch is written there too.
int runEncode(const CLI::App& app, const Common& c, EncodeSettings settings,
              const std::string& report = "");
int runDecode(const CLI::App& app, const Common& c);
int runInfo(const std::vector<std::string>& files, bool json);
// A listening report of device files, each with the source beside it or given in the
// list (lines of DEVICE<tab>SOURCE), prepared with the settings that shape a source.
int runReport(const Common& c, const std::string& report, const std::string& sourceList,
              const EncodeSettings& settings);
int runPack(const CLI::App& app, Common c, const PackArgs& p, EncodeSettings settings);

// Runs a batch and reports as the results come: failures always, warnings and summaries
// unless quiet, a progress line when standard error is a terminal.
std::vector<FileResult> runBatch(const Common& c, Progress* progress,
                                 const std::function<FileResult(std::size_t)>& work,
                                 const std::function<void(const FileResult&)>& summary);
