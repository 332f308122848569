// One file's work for kestrune-adpcm: encode a recording, decode a device file, or tell
// what a device file holds. Each job owns its files and leaves no output on failure;
// jobs share nothing, so many run at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "audio/audioInput.h"

struct EncodeSettings {
    int bits = 4;       // 4 or 2
    int level = 5;      // search level
    uint32_t rate = 0;  // 0: the default rule
    AudioOptions audio;
};

// Work done so far, for the progress line.
struct Progress {
    std::atomic<uint64_t> audioMicroseconds{0};  // audio converted
    std::atomic<uint64_t> knownMicroseconds{0};  // audio of the files started
    std::atomic<uint32_t> filesDone{0};
};

struct FileResult {
    std::string input, output;
    bool ok = false;
    std::string error;
    uint32_t rate = 0;
    int bits = 0;
    uint64_t samples = 0;                   // samples the device plays
    uint64_t bytes = 0;                     // payload bytes
    std::optional<double> snrDb, segSnrDb;  // what the device plays against the source
    uint64_t clipped = 0;
    double seconds() const { return rate == 0 ? 0 : static_cast<double>(samples) / rate; }
};

// "-" is standard input or output.
FileResult encodeFile(const EncodeSettings& settings, const std::string& input,
                      const std::string& output, Progress* progress);
FileResult decodeFile(const std::string& input, const std::string& output, Progress* progress);
FileResult inspectFile(const std::string& path);
