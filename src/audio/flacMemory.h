// Mono 16-bit samples as a FLAC file in memory: lossless and about half the size of PCM,
// for recordings carried inside another file (the listening report).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kestrune::detail {

// The FLAC file, or nothing when libsndfile cannot make one (an unsupported rate).
std::optional<std::vector<uint8_t>> flacBytes(std::span<const int16_t> samples, uint32_t rate);

}  // namespace kestrune::detail
