#include "tool/pack.h"

#include <algorithm>
#include <cctype>

#include "tool/cSource.h"
#include "tool/paths.h"

namespace {

void putBe(std::vector<uint8_t>& b, std::size_t at, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        b[at + static_cast<std::size_t>(i)] = static_cast<uint8_t>(v >> (8 * (bytes - 1 - i)));
    }
}

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

std::vector<uint8_t> buildImage(std::vector<PackedPrompt>& prompts, uint16_t align) {
    const auto aligned = [align](std::size_t at) { return (at + align - 1) / align * align; };
    std::size_t at = aligned(kPackHeaderSize + 8 * prompts.size());
    for (PackedPrompt& p : prompts) {
        p.offset = static_cast<uint32_t>(at);
        at = aligned(at + p.file.size());
    }
    const std::size_t length =
        prompts.empty() ? at : prompts.back().offset + prompts.back().file.size();
    std::vector<uint8_t> image(length, 0);
    std::copy_n("KPAK", 4, image.begin());
    putBe(image, 4, 1, 2);
    putBe(image, 6, align, 2);
    putBe(image, 8, static_cast<uint32_t>(prompts.size()), 4);
    putBe(image, 12, static_cast<uint32_t>(length), 4);
    for (std::size_t i = 0; i < prompts.size(); ++i) {
        putBe(image, kPackHeaderSize + 8 * i, prompts[i].offset, 4);
        putBe(image, kPackHeaderSize + 8 * i + 4, static_cast<uint32_t>(prompts[i].file.size()), 4);
        std::copy(prompts[i].file.begin(), prompts[i].file.end(),
                  image.begin() + prompts[i].offset);
    }
    return image;
}

std::string packHeader(const std::string& headerName, const std::vector<PackedPrompt>& prompts,
                       std::size_t imageLength, const std::string& imageName) {
    const std::string prefix = cIdentifier(stemOf(headerName));
    const std::string big = upper(prefix), guard = "KESTRUNE_" + big + "_H";
    const std::string n = std::to_string(prompts.size());
    std::string text = "/* The prompts in " + imageName + ", made by kestrune-adpcm. */\n#ifndef " +
                       guard + "\n#define " + guard + "\n\n#include <stdint.h>\n\nenum " + prefix +
                       "_prompt {\n";
    std::string offsets, lengths;
    for (std::size_t i = 0; i < prompts.size(); ++i) {
        text += "    " + big + "_" + upper(cIdentifier(prompts[i].name)) + " = " +
                std::to_string(i) + ",\n";
        const char* comma = i == 0 ? "" : ", ";
        offsets.append(comma).append(std::to_string(prompts[i].offset)).append("u");
        lengths.append(comma).append(std::to_string(prompts[i].file.size())).append("u");
    }
    const std::string size = prompts.empty() ? "1" : n;
    text += "    " + big + "_COUNT = " + n + "\n};\n\n#define " + big + "_IMAGE_LENGTH " +
            std::to_string(imageLength) + "u\n\n#if defined(__GNUC__)\n#define " + guard +
            "_UNUSED __attribute__((unused))\n#else\n#define " + guard +
            "_UNUSED\n#endif\n\n/* Where each prompt's device file lies in the image. */\n"
            "static const uint32_t " +
            prefix + "_offset[" + size + "] " + guard + "_UNUSED = {" +
            (prompts.empty() ? "0" : offsets) + "};\nstatic const uint32_t " + prefix + "_length[" +
            size + "] " + guard + "_UNUSED = {" + (prompts.empty() ? "0" : lengths) +
            "};\n\n#endif\n";
    return text;
}
