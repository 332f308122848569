// What kestrune-adpcm tells: failures, warnings and summaries on standard error, JSON and
// info lines on standard output, every byte of which is checked through its close.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "tool/jobs.h"

namespace kestrune::tool {

inline constexpr const char* kTool = "kestrune-adpcm";

using Json = nlohmann::ordered_json;

// The stream the tool's own messages go to: standard error as it was when the tool
// started. The C library's `stderr` itself is pointed elsewhere while files convert, so
// that what decoding libraries print of their own ("Warning: ...") does not reach the
// terminal.
FILE* messages();
// Opens /dev/null on standard input, output or error where the caller closed them, so
// that no file this process opens takes their numbers; what is then written to a closed
// standard output is an error (Bad file descriptor), as it would have been.
void reserveStandardStreams();
void silenceLibraries();

// "kestrune-adpcm: PATH: reason", PATH being what the failure is about: the one form of a
// failure's line, the path quoted as messages quote paths.
void printFailure(const std::string& path, const std::string& why);
void printFailure(const FileResult& r);
// "kestrune-adpcm: INPUT: warning: ..." for each of the result's warnings.
void printWarnings(const FileResult& r);
// "27.0 dB" (or another unit), or "n/a" when undefined (a silent recording).
std::string decibels(std::optional<double> v, const char* unit = " dB");

// The JSON keys encode and decode share, `warnings` among them.
Json conversionJson(const FileResult& r, int bits);
// A value rounded to `decimals` places, or null when undefined.
Json rounded(std::optional<double> v, int decimals);
// JSON on one line; in names that are not UTF-8, U+FFFD for each byte that is not.
std::string jsonText(const Json& j);
// Writes a JSON array, one object per line.
void printJson(const std::vector<Json>& objects);

// Writes to standard output; a failure is remembered for finishStandardOutput.
void writeStandardOutput(const std::string& text);
// Flushes and closes standard output. Returns `status`, or 1 (with one error line) when
// anything written there was lost.
int finishStandardOutput(int status);

int exitStatus(const std::vector<FileResult>& results);

// A set of prompts that came out at different device rates (no -r): what a warning says
// of it, or empty. "30 files came out at 2 rates (26 at 32000 Hz, 4 at 16000 Hz): 2.9 times
// the bytes they take with -r 16000"
std::string mixedRates(const std::vector<FileResult>& results);
// What a batch ends with, on standard error: its own warnings (empty ones are none) and,
// for more than one file, a tally ("300 files: 297 encoded, 2 failed, 1 skipped"); under
// quiet, which shows no warnings, only how many there were.
void printBatchEnd(const std::vector<FileResult>& results, bool quiet, const char* done,
                   const std::vector<std::string>& batchWarnings);

// Writes bytes to a new file through the safe output; false, with a line, on failure.
bool writeWhole(const std::string& path, const std::string& bytes, bool replace);

}  // namespace kestrune::tool
