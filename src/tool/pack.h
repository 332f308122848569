// Many device files in one image that a firmware build links: a small index, then the
// files, each at an aligned offset, in the order of their prompt IDs.
//
// The image (multi-byte fields big-endian, as in the device file):
//   0   4   "KPAK"
//   4   2   format version, 1
//   6   2   alignment in bytes (a power of two)
//   8   4   number of prompts, N
//   12  4   the image's length in bytes
//   16  8N  per prompt, in ID order: offset and length of its whole device file
//   then the device files at their offsets, multiples of the alignment; gaps hold 0x00.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PackedPrompt {
    std::string name;           // the prompt's name: its file's name without the extension
    std::string input;          // as given
    std::vector<uint8_t> file;  // the whole device file
    uint32_t offset = 0;        // in the image, once built
};

inline constexpr std::size_t kPackHeaderSize = 16;

// Lays the prompts out (setting each offset) and returns the image.
std::vector<uint8_t> buildImage(std::vector<PackedPrompt>& prompts, uint16_t align);

// A C header for the image: an enum of prompt IDs PREFIX_NAME in ID order and PREFIX_COUNT,
// the image's length, and each prompt's offset and length.
std::string packHeader(const std::string& headerName, const std::vector<PackedPrompt>& prompts,
                       std::size_t imageLength, const std::string& imageName);
