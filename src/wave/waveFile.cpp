#include "wave/waveFile.h"

#include <sys/types.h>

#include <array>
#include <cstring>

namespace {

using Tag = std::array<uint8_t, 4>;

constexpr uint32_t kFormatFieldBytes = 16;

bool readExact(FILE* fp, uint8_t* dst, std::size_t n) {
    return std::fread(dst, 1, n, fp) == n;
}

bool readTag(FILE* fp, Tag* tag) {
    return readExact(fp, tag->data(), tag->size());
}

bool tagIs(const Tag& tag, const char* text) {
    return std::memcmp(tag.data(), text, 4) == 0;
}

uint16_t le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool readU32(FILE* fp, uint32_t* value) {
    uint8_t b[4];
    if (!readExact(fp, b, sizeof b)) return false;
    *value = le32(b);
    return true;
}

// Moves forward by n bytes without passing the end of the stream. A stream that can
// seek is checked against its length first; one that cannot is read through.
bool skipForward(FILE* fp, uint64_t n) {
    const int64_t left = streamBytesLeft(fp);
    if (left >= 0) {
        if (n > static_cast<uint64_t>(left)) return false;
        const off_t target = static_cast<off_t>(ftello(fp) + static_cast<int64_t>(n));
        return fseeko(fp, target, SEEK_SET) == 0;
    }
    std::array<uint8_t, 4096> sink;
    while (n > 0) {
        const std::size_t want = n < sink.size() ? static_cast<std::size_t>(n) : sink.size();
        if (!readExact(fp, sink.data(), want)) return false;
        n -= want;
    }
    return true;
}

// Skips a chunk body of the given size and the pad byte that follows an odd size.
// Chunk tags never begin with a zero byte, so a non-zero byte at the pad position means
// the writer left the pad out; that byte is put back as the start of the next tag.
bool skipChunkBody(FILE* fp, uint64_t size) {
    if (!skipForward(fp, size)) return false;
    if (size % 2 == 1) {
        const int c = std::getc(fp);
        if (c == EOF) return !std::ferror(fp);
        if (c != 0 && std::ungetc(c, fp) == EOF) return false;
    }
    return true;
}

}  // namespace

int64_t streamBytesLeft(FILE* fp) {
    const off_t here = ftello(fp);
    if (here < 0 || fseeko(fp, 0, SEEK_END) != 0) return -1;
    const off_t end = ftello(fp);
    if (fseeko(fp, here, SEEK_SET) != 0 || end < here) return -1;
    return static_cast<int64_t>(end - here);
}

int16_t waveFileOpen(WaveFormat* format, FILE* fp, uint32_t* dataSize) {
    if (fp == nullptr) return kWaveNoStream;

    Tag tag;
    uint32_t size = 0;
    if (!readTag(fp, &tag) || !tagIs(tag, "RIFF") || !readU32(fp, &size)) return kWaveBadStructure;
    if (!readTag(fp, &tag) || !tagIs(tag, "WAVE")) return kWaveBadStructure;

    // The format chunk comes first and holds at least the six fields.
    if (!readTag(fp, &tag) || !tagIs(tag, "fmt ") || !readU32(fp, &size)) return kWaveBadStructure;
    if (size < kFormatFieldBytes) return kWaveBadStructure;
    std::array<uint8_t, kFormatFieldBytes> f;
    if (!readExact(fp, f.data(), f.size())) return kWaveBadStructure;
    format->formatTag = le16(&f[0]);
    format->channels = le16(&f[2]);
    format->sampleRate = le32(&f[4]);
    format->byteRate = le32(&f[8]);
    format->blockAlign = le16(&f[12]);
    format->bitsPerSample = le16(&f[14]);
    // Extra format bytes are skipped; they have the chunk's parity, so its pad follows them.
    if (!skipChunkBody(fp, static_cast<uint64_t>(size) - kFormatFieldBytes))
        return kWaveBadStructure;

    // Search forward for the data chunk.
    for (;;) {
        if (!readTag(fp, &tag) || !readU32(fp, &size)) return kWaveBadStructure;
        if (tagIs(tag, "data")) break;
        // A second format chunk would leave the sample layout ambiguous.
        if (tagIs(tag, "fmt ")) return kWaveBadStructure;
        if (!skipChunkBody(fp, size)) return kWaveBadStructure;
    }
    if (dataSize != nullptr) *dataSize = size;
    return kWaveOk;
}
