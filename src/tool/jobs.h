// One file's work for kestrune-adpcm: encode a recording, decode a device file, or tell
// what a device file holds. Each job owns its files and leaves no output on failure;
// jobs share nothing, so many run at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "adpFile.h"
#include "audio/audioInput.h"
#include "io/failure.h"
#include "io/outputFile.h"
#include "io/status.h"
#include "kestrune/kestrune.hpp"
#include "tool/container.h"

namespace kestrune::tool {

struct EncodeSettings {
    int bits = 4;  // 4 or 2
    int level = kestrune::kDefaultLevel;
    kestrune::Tune tune = kestrune::Tune::perceptual;
    uint32_t rate = 0;  // 0: the default rule
    detail::AudioOptions audio;
    bool measure = true;   // the SNR of what the device will play, for the summary
    bool replace = false;  // an existing output may be replaced
    detail::Levelling levelling;
    const ContainerRow* container = &containers().front();  // what the device file is written as
    ContainerOptions containerOptions;
    bool listen = false;            // keep what a listening report shows (FileResult::listening)
    bool warningsAsErrors = false;  // a file with a warning fails, and leaves no output
};

// Work done so far, for the progress line.
struct Progress {
    std::atomic<uint64_t> audioMicroseconds{0};  // audio converted
    std::atomic<uint64_t> knownMicroseconds{0};  // audio of the files started
    std::atomic<uint32_t> filesStarted{0};
    std::atomic<uint32_t> filesMeasured{0};  // started, with their length in knownMicroseconds
    std::atomic<uint32_t> filesDone{0};
};

struct Listening;

struct FileResult {
    std::string input, output;
    detail::Failure failure;  // its status (kStatusFinished) or why it failed
    std::string failurePath;  // what the failure is about, when not the input
    bool skipped = false;     // its output exists and was left alone (-n)
    uint32_t rate = 0;
    int bits = 0;
    uint64_t samples = 0;                   // samples the device plays
    uint64_t bytes = 0;                     // payload bytes
    std::optional<double> snrDb, segSnrDb;  // what the device plays against the source
    std::optional<double> weightedSnrDb;    // the same, perceptually weighted
    uint64_t clipped = 0;
    uint64_t nonFinite = 0;  // NaN or infinite source samples, played as silence
    std::optional<double> loudnessIn, loudnessOut, gainDb;  // LUFS, and dB, when levelled
    std::optional<uint64_t> limited;                        // samples the limiter changed
    std::optional<double> trimStartMs, trimEndMs;           // when trimmed
    std::optional<double> playbackPeakDbfs, headroomDb;     // under a ceiling, when not silent
    std::vector<std::string> warnings;           // what the output may lack, one line each
    std::shared_ptr<const Listening> listening;  // for the listening report, when asked
    detail::OutputFile uncommitted;  // written in full, to be made to appear by commitFile
    double seconds() const { return rate == 0 ? 0 : static_cast<double>(samples) / rate; }
    bool ok() const { return failure.status == kStatusFinished; }
    // Marks the job failed; returns the result to be moved out, for `return r.fail(...)`.
    FileResult&& fail(detail::Failure why) {
        failure = std::move(why);
        return std::move(*this);
    }
    FileResult&& fail(int status, std::string why) { return fail({status, std::move(why)}); }
};

// "-" is standard input or output. A converted file's output is left for commitFile,
// so that one file's sync to disk can overlap the next file's conversion.
FileResult encodeJob(const EncodeSettings& settings, const std::string& input,
                     const std::string& output, Progress* progress);
// The quality of what the device plays against a source that is not silent (the SNR of a
// silent one is undefined, and stays unset).
void setQuality(FileResult* r, const kestrune::Quality& q);
// A device file at `offset` in input (a prompt in an image) is read from there.
FileResult decodeJob(const std::string& input, const std::string& output, bool replace,
                     Progress* progress, uint64_t offset = 0);
// Copies the device file of `length` bytes at `offset` in input to output, byte for byte.
FileResult extractJob(const std::string& input, uint64_t offset, uint64_t length,
                      const std::string& output, bool replace);
FileResult inspectJob(const std::string& path);
// Reads a device file's header from fp and checks that its payload is all there (a regular
// file's size, `st`, tells; anything else is read through). A failure's reason is the one
// info and decode give.
detail::Done checkDeviceFile(FILE* fp, const struct stat& st, AdpInfo* info);
// The device file at path, whole (header and payload), when it is one; empty when not.
std::vector<uint8_t> deviceFileAt(const std::string& path);
// Fills in what a whole device file's header says.
void describeDevice(FileResult* r, const AdpInfo& info);

// What the jobs share: the output for a path ("-" is standard output), a failed output
// turned into the result's problem (`why`: the output's own reason, or empty for errno's),
// and a duration in microseconds.
int openOutput(detail::OutputFile* out, const std::string& path, const struct stat* input,
               bool replace);
void outputFailed(FileResult* r, int status, std::string why);
uint64_t microseconds(uint64_t samples, uint32_t rate);

}  // namespace kestrune::tool
