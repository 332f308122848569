// Device files as C source that a firmware build compiles in: the bytes as a static const
// array with its length, named by a C identifier made from the prompt's name.
#pragma once

#include <cstdint>
#include <span>
#include <string>

// A valid C identifier for a name: letters, digits and '_' kept, anything else '_', a
// leading digit prefixed with "prompt_", a C keyword suffixed with '_'.
std::string cIdentifier(const std::string& name);

// A header holding `bytes` as `static const uint8_t SYMBOL[N]` and `SYMBOL_length`, with
// an optional section and alignment (GCC and Clang attributes), and a comment.
std::string cArrayHeader(const std::string& symbol, std::span<const uint8_t> bytes,
                         const std::string& comment, const std::string& section, unsigned align);

// Whether a section name can be written into the attribute as it is.
bool cSectionNameValid(const std::string& section);
