#include "tool/cSource.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>

namespace kestrune::tool {

namespace {

// C's keywords, to C23; those starting with '_' are reserved anyway.
constexpr std::array<const char*, 44> kKeywords = {
    "alignas",      "alignof",  "auto",          "bool",      "break",
    "case",         "char",     "const",         "constexpr", "continue",
    "default",      "do",       "double",        "else",      "enum",
    "extern",       "false",    "float",         "for",       "goto",
    "if",           "inline",   "int",           "long",      "nullptr",
    "register",     "restrict", "return",        "short",     "signed",
    "sizeof",       "static",   "static_assert", "struct",    "switch",
    "thread_local", "true",     "typedef",       "typeof",    "typeof_unqual",
    "union",        "unsigned", "void",          "volatile"};

// Names the headers an includer is likely to have define: <stdio.h>'s streams and the
// like. <stdint.h>'s are matched by their form in cReserved.
constexpr std::array<const char*, 8> kLibraryNames = {"stdin", "stdout", "stderr", "errno",
                                                      "NULL",  "EOF",    "assert", "main"};

bool among(const auto& names, const std::string& id) {
    return std::find(names.begin(), names.end(), id) != names.end();
}

}  // namespace

bool cReserved(const std::string& id) {
    const bool capitals = std::none_of(id.begin(), id.end(), [](char c) {
        return std::islower(static_cast<unsigned char>(c)) != 0;
    });
    const auto from = [&](const auto& stems) {
        return std::any_of(stems.begin(), stems.end(),
                           [&](const char* s) { return id.starts_with(s); });
    };
    // <stdint.h>'s and <limits.h>'s limits (INT8_MAX, SIZE_MAX, CHAR_MIN) and constant
    // macros (UINT16_C); types end in _t (<stdint.h>, POSIX).
    static constexpr std::array<const char*, 16> kLimited = {
        "INT",   "UINT",  "PTRDIFF", "SIZE",  "SIG_ATOMIC", "WCHAR", "WINT",  "CHAR",
        "SCHAR", "UCHAR", "SHRT",    "USHRT", "LONG",       "ULONG", "LLONG", "ULLONG"};
    const bool limit = capitals && (id.ends_with("_MAX") || id.ends_with("_MIN")) && from(kLimited);
    const bool constant =
        capitals && id.ends_with("_C") && (id.starts_with("INT") || id.starts_with("UINT"));
    return id.starts_with('_') || id.ends_with("_t") || among(kKeywords, id) ||
           among(kLibraryNames, id) || limit || constant;
}

std::string cIdentifier(const std::string& name) {
    std::string id;
    for (const char c : name) {
        id +=
            std::isalnum(static_cast<unsigned char>(c)) != 0 && static_cast<unsigned char>(c) < 128
                ? c
                : '_';
    }
    // A leading digit or '_' gets a prefix, another reserved name a trailing '_'.
    if (id.empty() || std::isdigit(static_cast<unsigned char>(id[0])) != 0) id = "prompt_" + id;
    if (id.starts_with('_')) id = "prompt" + id;
    if (cReserved(id)) id += '_';
    return id;
}

bool cSectionNameValid(const std::string& section) {
    return !section.empty() && std::all_of(section.begin(), section.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '.' || c == '$';
    });
}

std::string cArrayHeader(const std::string& symbol, std::span<const uint8_t> bytes,
                         const std::string& comment, const std::string& section, unsigned align) {
    const std::string guard = "KESTRUNE_" + symbol + "_H";  // as the symbol: case counts
    std::string place;  // asked for, so a GCC or Clang build is assumed
    if (!section.empty()) place += "section(\"" + section + "\")";
    if (align > 0)
        place += (place.empty() ? "" : ", ") + ("aligned(" + std::to_string(align) + ")");
    if (!place.empty()) place = " __attribute__((" + place + "))";
    const std::string unused = guard + "_UNUSED";
    const std::string n = std::to_string(bytes.size());
    std::string text = "/* " + comment + " */\n#ifndef " + guard + "\n#define " + guard +
                       "\n\n#include <stdint.h>\n\n#if defined(__GNUC__)\n#define " + unused +
                       " __attribute__((unused))\n#else\n#define " + unused +
                       "\n#endif\n\nstatic const uint32_t " + symbol + "_length " + unused + " = " +
                       n + "u;\nstatic const uint8_t " + symbol + "[" + (bytes.empty() ? "1" : n) +
                       "] " + unused + place + " = {";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02x,", bytes[i]);
        text += (i % 12 == 0 ? "\n    " : " ") + std::string(hex);
    }
    text += bytes.empty() ? "0};\n\n#endif\n" : "\n};\n\n#endif\n";
    return text;
}

}  // namespace kestrune::tool
