// The canonical WAVE header the decoders write.
#pragma once

#include <cstddef>
#include <cstdint>

// The canonical header of a mono 16-bit PCM file: RIFF, WAVE, a 16-byte fmt, data (44
// bytes). Past 32-bit sizes it is RF64: the sizes are 0xFFFFFFFF and a ds64 chunk holds
// them in 64 bits (80 bytes). Returns the header's size.
inline constexpr std::size_t kMaxWaveHeaderSize = 80;
std::size_t makeWaveHeader(uint32_t rate, uint64_t dataBytes, uint8_t* header);
