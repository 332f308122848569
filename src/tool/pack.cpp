#include "tool/pack.h"

#include <sys/stat.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "adpFile.h"
#include "tool/cSource.h"
#include "tool/paths.h"

namespace kestrune::tool {

namespace {

constexpr uint64_t kMaxField = 0xFFFFFFFFu;  // what a 32-bit field of the index holds
constexpr char kImageMark[4] = {'K', 'P', 'A', 'K'};
constexpr char kIdHashMark[4] = {'K', 'I', 'D', 'H'};

void putBe(std::vector<uint8_t>& b, std::size_t at, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        b[at + static_cast<std::size_t>(i)] = static_cast<uint8_t>(v >> (8 * (bytes - 1 - i)));
    }
}

uint32_t getBe(const uint8_t* b, int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v = v << 8 | b[i];
    return v;
}

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// A fault in an image's layout or contents.
detail::Failure fault(std::string why) {
    return {kStatusFormat, std::move(why)};
}

}  // namespace

detail::Outcome<ImageLayout> planImage(const std::vector<uint64_t>& lengths, unsigned align,
                                       std::optional<uint32_t> idHash) {
    const auto aligned = [align](uint64_t at) { return (at + align - 1) / align * align; };
    ImageLayout layout{align, {}, lengths, 0, idHash};
    // Lengths are those of files the tool reads, far below 2^63: the sums cannot wrap.
    uint64_t at = kPackHeaderSize + 8 * uint64_t{lengths.size()} + (idHash ? kIdHashSize : 0);
    for (std::size_t i = 0; i < lengths.size(); ++i) {
        at = aligned(at);
        layout.offsets.push_back(at);
        at += lengths[i];
    }
    layout.length = at;
    if (at <= kMaxField) return layout;
    return fault("the image would be " + std::to_string(at) +
                 " bytes; its index holds at most 4294967295");
}

std::vector<uint8_t> imageIndex(const ImageLayout& layout) {
    const std::size_t n = layout.offsets.size();
    std::vector<uint8_t> index(kPackHeaderSize + 8 * n + (layout.idHash ? kIdHashSize : 0), 0);
    std::memcpy(index.data(), kImageMark, sizeof kImageMark);
    putBe(index, 4, 1, 2);
    putBe(index, 6, layout.align, 2);
    putBe(index, 8, n, 4);
    putBe(index, 12, layout.length, 4);
    for (std::size_t i = 0; i < n; ++i) {
        putBe(index, kPackHeaderSize + 8 * i, layout.offsets[i], 4);
        putBe(index, kPackHeaderSize + 8 * i + 4, layout.lengths[i], 4);
    }
    if (layout.idHash) {
        std::memcpy(&index[kPackHeaderSize + 8 * n], kIdHashMark, sizeof kIdHashMark);
        putBe(index, kPackHeaderSize + 8 * n + 4, *layout.idHash, 4);
    }
    return index;
}

bool looksLikeImage(const uint8_t* first, std::size_t n) {
    return n >= sizeof kImageMark && std::memcmp(first, kImageMark, sizeof kImageMark) == 0;
}

detail::Outcome<ImageContents> readImage(FILE* fp, uint64_t size) {
    std::array<uint8_t, kPackHeaderSize> h{};
    if (std::fread(h.data(), 1, h.size(), fp) != h.size()) {
        return fault("too short for an image's 16-byte header");
    }
    if (!looksLikeImage(h.data(), h.size())) return fault("not an image (no \"KPAK\" mark)");
    const uint32_t version = getBe(&h[4], 2), align = getBe(&h[6], 2), n = getBe(&h[8], 4);
    const uint32_t length = getBe(&h[12], 4);
    if (version != 1) return fault("image version " + std::to_string(version) + ", not 1");
    if (align == 0 || align > 4096 || (align & (align - 1)) != 0) {
        return fault("alignment " + std::to_string(align) + " is not a power of two");
    }
    if (length != size) {
        return fault("its length field says " + std::to_string(length) + " bytes, the file holds " +
                     std::to_string(size));
    }
    if (kPackHeaderSize + 8 * uint64_t{n} > length) {
        return fault("an index of " + std::to_string(n) + " prompts is past its end");
    }
    std::vector<uint8_t> index(8 * std::size_t{n});
    if (std::fread(index.data(), 1, index.size(), fp) != index.size()) {
        return fault("cannot read its index");
    }
    ImageContents image{ImageLayout{align, {}, {}, length, {}}, {}};
    ImageLayout* layout = &image.layout;
    uint64_t end = kPackHeaderSize + index.size();
    for (uint32_t i = 0; i < n; ++i) {
        const uint64_t offset = getBe(&index[8 * i], 4), bytes = getBe(&index[8 * i + 4], 4);
        const std::string prompt = "prompt " + std::to_string(i);
        if (offset % align != 0 || offset < end || offset + bytes > length) {
            return fault(prompt + " lies outside its place (offset " + std::to_string(offset) +
                         ", " + std::to_string(bytes) + " bytes)");
        }
        std::array<uint8_t, kAdpHeaderSize> adp{};
        AdpInfo info{};
        detail::Done header = fault("");
        if (bytes < kAdpHeaderSize || std::fseek(fp, static_cast<long>(offset), SEEK_SET) != 0 ||
            std::fread(adp.data(), 1, adp.size(), fp) != adp.size() ||
            !(header = checkAdpHeader(adp.data(), &info)) ||
            kAdpHeaderSize + uint64_t{info.payloadLength} != bytes) {
            const std::string& why = header.failure().reason;
            return fault(prompt + " is not a whole device file" + (why.empty() ? "" : ": " + why));
        }
        layout->offsets.push_back(offset);
        layout->lengths.push_back(bytes);
        image.prompts.push_back(info);
        end = offset + bytes;
    }
    // The ID table's hash, where the gap after the index holds its mark.
    std::array<uint8_t, kIdHashSize> mark{};
    const uint64_t after = kPackHeaderSize + index.size();
    const uint64_t first = n > 0 ? layout->offsets[0] : length;
    if (first >= after + kIdHashSize && std::fseek(fp, static_cast<long>(after), SEEK_SET) == 0 &&
        std::fread(mark.data(), 1, mark.size(), fp) == mark.size() &&
        std::memcmp(mark.data(), kIdHashMark, sizeof kIdHashMark) == 0) {
        layout->idHash = getBe(&mark[4], 4);
    }
    return image;
}

bool isImageFile(const std::string& path) {
    // A pipe is not opened here: what this read would take, its reader would lose.
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    FILE* fp = std::fopen(path.c_str(), "rb");
    uint8_t mark[sizeof kImageMark] = {};
    const bool image = fp != nullptr && std::fread(mark, 1, sizeof mark, fp) == sizeof mark &&
                       looksLikeImage(mark, sizeof mark);
    if (fp != nullptr) std::fclose(fp);
    return image;
}

detail::Outcome<ImageContents> readImageFile(const std::string& path) {
    FILE* fp = std::fopen(path.c_str(), "rb");
    struct stat st {};
    if (fp == nullptr || fstat(fileno(fp), &st) != 0) {
        detail::Failure failure = detail::Failure::system(kStatusInputOpen, "cannot open");
        if (fp != nullptr) std::fclose(fp);
        return failure;
    }
    detail::Outcome<ImageContents> image = readImage(fp, static_cast<uint64_t>(st.st_size));
    std::fclose(fp);
    return image;
}

std::string imagePromptName(const std::string& path, std::size_t id) {
    return path + "[" + std::to_string(id) + "]";
}

std::string imagePromptStem(const std::string& path, std::size_t id) {
    return stemOf(path) + "-" + std::to_string(id);
}

std::string promptConstant(const std::string& prefix, const std::string& name) {
    const std::string own = upper(cIdentifier(name));
    std::string id = upper(prefix) + "_" + own;
    if (own == "COUNT" || own == "IMAGE_LENGTH" || cReserved(id)) id += '_';
    return id;
}

std::string packHeader(const std::string& prefix, const std::string& guard,
                       const std::vector<std::string>& names, const ImageLayout& layout,
                       const std::string& imageName) {
    const std::string big = upper(prefix);
    const std::string n = std::to_string(names.size());
    std::string text = "/* The prompts in " + imageName + ", made by kestrune-adpcm. */\n#ifndef " +
                       guard + "\n#define " + guard + "\n\n#include <stdint.h>\n\nenum " + prefix +
                       "_prompt {\n";
    std::string offsets, lengths;
    for (std::size_t i = 0; i < names.size(); ++i) {
        text += "    " + promptConstant(prefix, names[i]) + " = " + std::to_string(i) + ",\n";
        const char* comma = i == 0 ? "" : ", ";
        offsets.append(comma).append(std::to_string(layout.offsets[i])).append("u");
        lengths.append(comma).append(std::to_string(layout.lengths[i])).append("u");
    }
    const std::string size = names.empty() ? "1" : n;
    text += "    " + big + "_COUNT = " + n + "\n};\n\n#define " + big + "_IMAGE_LENGTH " +
            std::to_string(layout.length) + "u\n\n#if defined(__GNUC__)\n#define " + guard +
            "_UNUSED __attribute__((unused))\n#else\n#define " + guard +
            "_UNUSED\n#endif\n\n/* Where each prompt's device file lies in the image. */\n"
            "static const uint32_t " +
            prefix + "_offset[" + size + "] " + guard + "_UNUSED = {" +
            (names.empty() ? "0" : offsets) + "};\nstatic const uint32_t " + prefix + "_length[" +
            size + "] " + guard + "_UNUSED = {" + (names.empty() ? "0" : lengths) +
            "};\n\n#endif\n";
    return text;
}

}  // namespace kestrune::tool
