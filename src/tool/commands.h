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
#include "tool/report.h"

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
    std::string header, list, prefix;
    unsigned align = 4;
};

// Refuses to wait for standard input typed at a terminal (a UsageError).
void checkStandardInput(const std::vector<std::string>& inputs);

// Why each output may not be written, before any work: it is one of the inputs (the same
// file by any path, links and hard links followed, or the same device), or an output
// named before it; an empty text when it may be written. The first `perInput` outputs are
// the inputs' own, which their jobs check against their own input as they open them.
std::vector<std::string> outputConflicts(const std::vector<std::string>& inputs,
                                         const std::vector<std::string>& outputs,
                                         std::size_t perInput);

// What encode tells of a file it converted, which pack tells of each prompt it encodes:
// the search level as the summary names it, the summary lines, the JSON object.
std::string levelName(const EncodeSettings& settings);
void printEncodeSummary(const FileResult& r, const std::string& level);
Json encodeJson(const FileResult& r, const EncodeSettings& settings);

// The inputs of info, decode and unpack as their jobs read them: a device file as it is,
// an image as each of its prompts (shown as IMAGE[ID], its outputs named IMAGE-ID), read
// and checked first; an image that fails that check is refused with the reason.
struct JobInputs {
    std::vector<std::string> shown, planned, paths, refused;
    std::vector<uint64_t> offsets, lengths;  // of a prompt in an image; 0 for a device file
    std::vector<AdpInfo> prompts;            // what a prompt's header says
};
JobInputs imagePrompts(const std::vector<std::string>& inputs);

// With a report path, a listening report of the batch is written there too.
int runEncode(const CLI::App& app, const Common& c, EncodeSettings settings,
              const std::string& report = "");
int runDecode(const CLI::App& app, Common c);
int runInfo(const std::vector<std::string>& files, bool json);
// A listening report of device files, each with the source beside it or given in the
// list (lines of DEVICE<tab>SOURCE), prepared with the settings that shape a source.
int runReport(const Common& c, const std::string& report, const std::string& sourceList,
              const EncodeSettings& settings);
int runPack(const CLI::App& app, Common c, const PackArgs& p, EncodeSettings settings);
// Encodes the recording at path into memory (*bytes: the whole device file), as encode
// would into a file.
FileResult encodeToMemory(const EncodeSettings& settings, const std::string& path,
                          std::vector<uint8_t>* bytes, Progress* progress);
// Writes an image's device files back into a folder, byte for byte, as NAME-ID.adp.
int runUnpack(const Common& c);

// Runs a batch and reports as the results come: failures always, warnings and summaries
// unless quiet, a progress line when standard error is a terminal.
std::vector<FileResult> runBatch(const Common& c, Progress* progress,
                                 const std::function<FileResult(std::size_t)>& work,
                                 const std::function<void(const FileResult&)>& summary);
