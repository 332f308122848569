// The prompts of a pack: found from the inputs and the list, opened (a device file's
// header checked, a non-regular input held in a copy), recordings encoded into memory, and
// all written into the image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tool/commands.h"
#include "tool/jobs.h"
#include "tool/pack.h"

namespace kestrune::tool {

struct Prompt {
    std::string name, input;       // the prompt's name, and its input as given
    std::string path;              // where it is read: the input, or its held copy
    int held = -1;                 // the copy of a non-regular input (runPack closes it)
    bool device = false;           // a device file, taken as it is; else a recording
    std::vector<uint8_t> encoded;  // a recording's device file
    FileResult result;             // what its header says, or its encode's result
    uint64_t length() const { return device ? kAdpHeaderSize + result.bytes : encoded.size(); }
};

// The prompts in ID order. With a list and inputs, each entry names a prompt, found among
// the inputs by their names without extension (the entry's own cut too, when it has one);
// a list alone holds paths, relative to its folder; inputs alone are sorted by name.
// False, told, on a fault.
bool packPrompts(const Common& c, const PackArgs& p, std::vector<Prompt>* prompts);

// Opens a prompt's input once: one that is not a regular file is held in a copy; a device
// file's header is read and checked, through the reader info and decode use.
bool openPrompt(Prompt* pr);

// Encodes a recording into memory, as encode would into a file.
FileResult encodePrompt(const EncodeSettings& settings, Prompt* pr, Progress* progress);

// Writes the image: its index, then each device file at its offset. Fails with kStatusWrite
// (errno's text) or kStatusRead (a device file that changed while it was read).
detail::Done writeImage(FILE* to, const ImageLayout& layout, const std::vector<Prompt>& prompts);

}  // namespace kestrune::tool
