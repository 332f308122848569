// The subcommands of kestrune-adpcm, and what they share: the inputs and outputs of a
// batch, the checks made before any work, and the run that reports as results come.
#pragma once

#include <CLI/CLI.hpp>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tool/jobs.h"
#include "tool/report.h"

namespace kestrune::tool {

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

// Where each input's output goes: -o, DIR/NAME.ext with -d, else NAME.ext beside it.
std::vector<std::string> planOutputs(const std::vector<std::string>& inputs,
                                     const std::string& output, const std::string& folder,
                                     const char* extension);

// Checks what encode and decode share, before any work.
void checkCommon(const CLI::App& app, const Common& c);

// The folder of the outputs (-d, or the one -o names a file in), made with the folders it
// is in when missing. Those it made are removed again, when empty, by `undo`, or by a
// fatal signal.
struct MadeFolders {
    std::vector<std::filesystem::path> made;  // outermost first
    void make(const Common& c);
    void undo();
};

// With -n, an output that exists (a regular file, or a link to one) is not made again.
bool skipExisting(const Common& c, const std::string& input, const std::string& output,
                  FileResult* r);

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
// The summary names the output as `output` (pack's image, where encode's is r.output).
void printEncodeSummary(const FileResult& r, const std::string& level, const std::string& output);
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
// Encodes the recording at path into memory (*bytes: the whole device file), as encode
// would into a file.
FileResult encodeToMemory(const EncodeSettings& settings, const std::string& path,
                          std::vector<uint8_t>* bytes, Progress* progress);

// Runs a batch and reports as the results come: failures always, warnings and summaries
// unless quiet, a progress line when standard error is a terminal.
std::vector<FileResult> runBatch(const Common& c, Progress* progress,
                                 const std::function<FileResult(std::size_t)>& work,
                                 const std::function<void(const FileResult&)>& summary);

}  // namespace kestrune::tool
