// What a listening report shows of one prompt: the device file itself (the page decodes
// it as the device does), the source it was made from at the device rate, and the levels
// of both. Made by encode when a report is asked for, or from a device file and its source.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kestrune::tool {

struct FileResult;
struct EncodeSettings;

struct Listening {
    std::vector<uint8_t> device;  // the whole device file, header and payload
    std::vector<uint8_t> source;  // the source at the device rate as FLAC; empty when unknown
    std::optional<double> sourceLufs, playedLufs;
    std::optional<double> peakDbfs;  // of what the device plays; nothing for silence
};

// Measures and packs a prompt: `source` (may be empty) and `played` at `rate`.
Listening listenTo(std::vector<uint8_t> device, std::span<const int16_t> source,
                   std::span<const int16_t> played, uint32_t rate);

// A device file and its source (empty: none), read for the report: the result carries
// what its header says, the quality of what it plays against the source, and the
// Listening. The source is read at the device rate, prepared as encode prepared it with
// `settings` (levelled and trimmed), and compared from the first sample; a length that
// differs from the playback's is a warning.
FileResult listenToFile(const std::string& device, const std::string& source,
                        EncodeSettings settings);

// The source beside a device file: the file of the same name with another extension
// that is audio, or empty.
std::string sourceBeside(const std::string& device);

// Writes the report through the safe output; false, with the failure printed, when it
// cannot be written. `level` names the search level and tune, or is empty when unknown.
bool writeListeningReport(const std::string& path, bool replace,
                          const std::vector<FileResult>& results, const std::string& level);

}  // namespace kestrune::tool
