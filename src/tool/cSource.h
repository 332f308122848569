// Device files as C source that a firmware build compiles in: the bytes as a static const
// array with its length, named by a C identifier made from the prompt's name.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace kestrune::tool {

// Whether an identifier is C's or a header's to define: a keyword, a name starting with
// '_', a type (ending in _t), a limit or constant macro (capitals ending in _MAX, _MIN or
// _C), or a name of the C library's that an includer is likely to have (stdin, errno, ...).
bool cReserved(const std::string& id);

// A C identifier for a name that no header can take: letters, digits and '_' kept,
// anything else '_', a leading digit prefixed with "prompt_" and a leading '_' with
// "prompt", a name still reserved suffixed with '_'.
std::string cIdentifier(const std::string& name);

// A header holding `bytes` as `static const uint8_t SYMBOL[N]` and `SYMBOL_length`, with
// an optional section and alignment (GCC and Clang attributes), and a comment.
std::string cArrayHeader(const std::string& symbol, std::span<const uint8_t> bytes,
                         const std::string& comment, const std::string& section, unsigned align);

// Whether a section name can be written into the attribute as it is.
bool cSectionNameValid(const std::string& section);

}  // namespace kestrune::tool
