#include "tool/cSource.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>

namespace {

constexpr std::array<const char*, 37> kKeywords = {
    "auto",     "break",  "case",   "char",     "const",     "continue", "default",  "do",
    "double",   "else",   "enum",   "extern",   "float",     "for",      "goto",     "if",
    "inline",   "int",    "long",   "register", "restrict",  "return",   "short",    "signed",
    "sizeof",   "static", "struct", "switch",   "typedef",   "union",    "unsigned", "void",
    "volatile", "while",  "_Bool",  "_Complex", "_Imaginary"};

}  // namespace

std::string cIdentifier(const std::string& name) {
    std::string id;
    for (const char c : name) {
        id +=
            std::isalnum(static_cast<unsigned char>(c)) != 0 && static_cast<unsigned char>(c) < 128
                ? c
                : '_';
    }
    if (id.empty() || std::isdigit(static_cast<unsigned char>(id[0])) != 0) id = "prompt_" + id;
    if (std::find(kKeywords.begin(), kKeywords.end(), id) != kKeywords.end()) id += '_';
    return id;
}

bool cSectionNameValid(const std::string& section) {
    return !section.empty() && std::all_of(section.begin(), section.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '.' || c == '$';
    });
}

std::string cArrayHeader(const std::string& symbol, std::span<const uint8_t> bytes,
                         const std::string& comment, const std::string& section, unsigned align) {
    std::string guard = "KESTRUNE_" + symbol + "_H";
    std::transform(guard.begin(), guard.end(), guard.begin(), [](char c) {
        return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    });
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
