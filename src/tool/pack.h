// Many device files in one image that a firmware build links: a small index, then the
// files, each at an aligned offset, in the order of their prompt IDs.
//
// The image (multi-byte fields big-endian, as in the device file):
//   0   4   "KPAK"
//   4   2   format version, 1
//   6   2   alignment in bytes (a power of two, 1 to 4096)
//   8   4   number of prompts, N
//   12  4   the image's length in bytes
//   16  8N  per prompt, in ID order: offset and length of its whole device file
//   an image made by build: "KIDH" and the 32-bit hash of its ID table (8 bytes)
//   then the device files at their offsets, multiples of the alignment; gaps hold 0x00.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "adpFile.h"
#include "io/failure.h"

namespace kestrune::tool {

inline constexpr std::size_t kPackHeaderSize = 16;

// Where each prompt's device file lies in an image, and the image's length.
struct ImageLayout {
    unsigned align = 4;
    std::vector<uint64_t> offsets, lengths;
    uint64_t length = 0;
    // The hash of the ID table the image was built against, after the index; an image of
    // pack has none. Readers that know nothing of it skip it as the gap it lies in.
    std::optional<uint32_t> idHash;
};

inline constexpr std::size_t kIdHashSize = 8;  // "KIDH" and the hash

// Lays out device files of these lengths in ID order. Fails (kStatusFormat) when an offset,
// a length or the image's length would not fit the index's 32-bit fields.
detail::Outcome<ImageLayout> planImage(const std::vector<uint64_t>& lengths, unsigned align,
                                       std::optional<uint32_t> idHash = {});

// The bytes that open the image: its header and index.
std::vector<uint8_t> imageIndex(const ImageLayout& layout);

// Whether a file's first bytes are an image's mark.
bool looksLikeImage(const uint8_t* first, std::size_t n);

// An image as read: where its prompts lie, and what each prompt's device header says.
struct ImageContents {
    ImageLayout layout;
    std::vector<AdpInfo> prompts;
};

// Reads and checks the image on fp (seekable, `size` bytes): its header, its index (each
// prompt aligned, inside the image, after the index and the prompt before) and each
// prompt's device header (a device file's, as long as its entry says). Fails
// (kStatusFormat) at the first fault.
detail::Outcome<ImageContents> readImage(FILE* fp, uint64_t size);

// An image that info, decode and unpack read: a regular file that starts with the mark.
bool isImageFile(const std::string& path);
// Reads the image at path through readImage; fails with kStatusInputOpen ("cannot open:
// ...") when it cannot be opened.
detail::Outcome<ImageContents> readImageFile(const std::string& path);
// How messages name prompt `id` of the image at path, and the name of what is made of it.
std::string imagePromptName(const std::string& path, std::size_t id);
std::string imagePromptStem(const std::string& path, std::size_t id);

// The constant a prompt's ID gets in the header: PREFIX_NAME, its name made a C identifier,
// in capitals; one that is the header's own (COUNT, IMAGE_LENGTH) or reserved gets a '_'.
std::string promptConstant(const std::string& prefix, const std::string& name);

// A C header for the image: an enum of prompt IDs PREFIX_NAME in ID order and PREFIX_COUNT,
// the image's length, and each prompt's offset and length (prefix in capitals for the
// constants, as given for the enum and arrays), under an include guard made of `guard`.
std::string packHeader(const std::string& prefix, const std::string& guard,
                       const std::vector<std::string>& names, const ImageLayout& layout,
                       const std::string& imageName);

}  // namespace kestrune::tool
