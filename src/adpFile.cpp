#include "adpFile.h"

#include <sys/types.h>

#include <algorithm>
#include <bit>
#include <cstring>

#include "codec/adpcm.h"
#include "ioHooks.h"
#include "messages.h"
#include "wave/waveFile.h"

namespace {

// Samples per block: the payload streams through the encoder in blocks of this size.
constexpr uint32_t kBlockSamples = 1u << 15;

// Where the codes go: straight to the output, or held in memory when neither the
// length is known before the payload nor the output can seek back to the header.
struct CodeSink {
    FILE* to;
    bool hold;
    uint8_t* held;
    std::size_t heldSize;
    std::size_t heldCapacity;
};

int writeAll(FILE* to, const uint8_t* bytes, std::size_t n) {
    if (n == 0) return kStatusFinished;
    return std::fwrite(bytes, 1, n, to) == n ? kStatusFinished : kStatusWrite;
}

int sinkCodes(CodeSink* sink, const uint8_t* codes, std::size_t n) {
    if (!sink->hold || n == 0) return writeAll(sink->to, codes, n);
    if (sink->heldSize + n > sink->heldCapacity) {
        const std::size_t capacity = std::max(sink->heldCapacity * 2, sink->heldSize + n);
        auto* grown = static_cast<uint8_t*>(ioHooks.reallocate(sink->held, capacity));
        if (grown == nullptr) return kStatusMemory;
        sink->held = grown;
        sink->heldCapacity = capacity;
    }
    std::memcpy(sink->held + sink->heldSize, codes, n);
    sink->heldSize += n;
    return kStatusFinished;
}

int writeHeader(FILE* to, int32_t payloadLength, uint32_t rate, uint8_t variant) {
    std::array<uint8_t, kAdpHeaderSize> header;
    makeAdpHeader(payloadLength, static_cast<uint16_t>(rate), variant, header.data());
    return writeAll(to, header.data(), header.size());
}

int checkFormat(int16_t readerStatus, const WaveFormat& f) {
    if (readerStatus != kWaveOk || f.formatTag != 1 || f.channels != 1) return kStatusFormat;
    if (!rateAccepted(f.sampleRate)) return kStatusRate;
    if (f.bitsPerSample != 16) return kStatusFormat;
    return kStatusFinished;
}

// Samples are little-endian in WAVE files; swapping is its own inverse.
void swapLittleEndian(int16_t* samples, uint32_t n) {
    if constexpr (std::endian::native == std::endian::big) {
        for (uint32_t i = 0; i < n; ++i) {
            const auto u = static_cast<uint16_t>(samples[i]);
            samples[i] = static_cast<int16_t>((u >> 8) | (u << 8));
        }
    }
}

// Reads up to payloadBytes of samples and encodes them into the sink. When the length
// is known, a short read means the input changed under us; otherwise the end of the
// stream ends the payload.
int encodePayload(FILE* from, uint64_t payloadBytes, bool lengthKnown, uint8_t variant,
                  CodeSink* sink, int32_t* produced) {
    auto* samples = static_cast<int16_t*>(ioHooks.allocate(kBlockSamples * sizeof(int16_t)));
    auto* codes = static_cast<uint8_t*>(ioHooks.allocate(kBlockSamples / count[variant] + 1));
    int status = (samples == nullptr || codes == nullptr) ? kStatusMemory : kStatusFinished;

    tarquel_enc(kModeReset, kVariant4Bit, nullptr, 0, nullptr);
    uint64_t left = payloadBytes & ~uint64_t{1};  // an odd last byte is not a sample
    *produced = 0;
    while (status == kStatusFinished && left > 0) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<uint64_t>(left, kBlockSamples * sizeof(int16_t)));
        const std::size_t got = ioHooks.read(samples, 1, want, from);
        if (got < want && (lengthKnown || std::ferror(from))) {
            status = kStatusRead;
            break;
        }
        left = got < want ? 0 : left - got;
        const auto n = static_cast<uint32_t>(got / sizeof(int16_t));
        swapLittleEndian(samples, n);
        const int32_t bytes = tarquel_enc(kModeCode, variant, samples, n, codes);
        status = sinkCodes(sink, codes, static_cast<std::size_t>(bytes));
        *produced += bytes;
    }
    ioHooks.release(samples);
    ioHooks.release(codes);
    return status;
}

constexpr std::size_t kWaveHeaderSize = 44;
constexpr uint32_t kBlockBytes = 1u << 14;

void putLe(uint8_t* p, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The canonical header of a mono 16-bit PCM file: RIFF, WAVE, a 16-byte fmt, data.
void makeWaveHeader(uint32_t rate, uint32_t dataBytes, uint8_t* h) {
    std::memcpy(h, "RIFF", 4);
    putLe(h + 4, 36 + dataBytes, 4);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    putLe(h + 16, 16, 4);
    putLe(h + 20, 1, 2);  // linear PCM
    putLe(h + 22, 1, 2);  // one channel
    putLe(h + 24, rate, 4);
    putLe(h + 28, rate * 2, 4);  // byte rate
    putLe(h + 32, 2, 2);         // block align
    putLe(h + 34, 16, 2);        // bits per sample
    std::memcpy(h + 36, "data", 4);
    putLe(h + 40, dataBytes, 4);
}

int decodePayload(FILE* from, FILE* to, uint8_t variant, uint32_t payloadLength) {
    auto* codes = static_cast<uint8_t*>(ioHooks.allocate(kBlockBytes));
    auto* samples =
        static_cast<int16_t*>(ioHooks.allocate(kBlockBytes * count[variant] * sizeof(int16_t)));
    int status = (samples == nullptr || codes == nullptr) ? kStatusMemory : kStatusFinished;

    tarquel_dec(kModeReset, kVariant4Bit, nullptr, 0, nullptr);
    uint32_t left = payloadLength;
    while (status == kStatusFinished && left > 0) {
        const uint32_t want = std::min(left, kBlockBytes);
        const std::size_t got = ioHooks.read(codes, 1, want, from);
        if (got < want) {
            status = std::ferror(from) ? kStatusRead : kStatusFormat;  // payload cut short
            break;
        }
        left -= want;
        const auto n = static_cast<uint32_t>(tarquel_dec(kModeCode, variant, codes, want, samples));
        swapLittleEndian(samples, n);
        status = writeAll(to, reinterpret_cast<const uint8_t*>(samples), n * sizeof(int16_t));
    }
    ioHooks.release(codes);
    ioHooks.release(samples);
    return status;
}

}  // namespace

int readAdpHeader(const uint8_t* h, uint16_t* rate, uint32_t* payloadLength) {
    static constexpr uint8_t kFourBit[4] = {0x80, 0x01, 0x01, 0x04};
    static constexpr uint8_t kTwoBit[4] = {0x80, 0x00, 0x01, 0x02};
    if (std::memcmp(h, "Audi", 4) != 0) return -1;
    int variant = -1;
    if (std::memcmp(h + 4, kFourBit, 4) == 0) variant = kVariant4Bit;
    if (std::memcmp(h + 4, kTwoBit, 4) == 0) variant = kVariant2Bit;
    *rate = static_cast<uint16_t>((h[8] << 8) | h[9]);
    *payloadLength = (static_cast<uint32_t>(h[12]) << 24) | (static_cast<uint32_t>(h[13]) << 16) |
                     (static_cast<uint32_t>(h[14]) << 8) | h[15];
    return variant;
}

bool rateAccepted(uint32_t rate) {
    return std::find(kAcceptedRates.begin(), kAcceptedRates.end(), rate) != kAcceptedRates.end();
}

int makeAdpHeader(int32_t payloadLength, uint16_t rate, uint8_t variant, uint8_t* header) {
    header[0] = 'A';
    header[1] = 'u';
    header[2] = 'd';
    header[3] = 'i';
    header[6] = 0x01;
    header[4] = (variant == kVariant4Bit || variant == kVariant2Bit) ? 0x80 : 0x00;
    header[5] = variant == kVariant4Bit ? 0x01 : 0x00;
    header[7] = variantSupported(variant) ? length[variant] : 0x00;
    header[8] = static_cast<uint8_t>(rate >> 8);
    header[9] = static_cast<uint8_t>(rate);
    header[10] = 0x00;
    header[11] = 0x00;
    const auto n = static_cast<uint32_t>(payloadLength);
    header[12] = static_cast<uint8_t>(n >> 24);
    header[13] = static_cast<uint8_t>(n >> 16);
    header[14] = static_cast<uint8_t>(n >> 8);
    header[15] = static_cast<uint8_t>(n);
    return 0;
}

int convertWaveToAdp(FILE* from, FILE* to, bool toCanSeek, uint8_t variant) {
    WaveFormat format{};
    uint32_t declared = 0;
    const int16_t readerStatus = waveFileOpen(&format, from, &declared);
    int status = checkFormat(readerStatus, format);
    if (status != kStatusFinished) return status;

    // The payload is the data chunk, cut short where the input ends first.
    const int64_t left = streamBytesLeft(from);
    const bool lengthKnown = left >= 0;
    const uint64_t payloadBytes =
        lengthKnown ? std::min<uint64_t>(declared, static_cast<uint64_t>(left)) : declared;

    CodeSink sink{to, false, nullptr, 0, 0};
    off_t headerAt = -1;
    if (lengthKnown) {
        const auto codeBytes =
            static_cast<int32_t>(payloadBytes / sizeof(int16_t) / count[variant]);
        status = writeHeader(to, codeBytes, format.sampleRate, variant);
    } else if (toCanSeek && (headerAt = ftello(to)) >= 0) {
        status = writeHeader(to, 0, format.sampleRate, variant);  // rewritten at the end
    } else {
        sink.hold = true;
    }

    int32_t produced = 0;
    if (status == kStatusFinished) {
        status = encodePayload(from, payloadBytes, lengthKnown, variant, &sink, &produced);
    }
    if (status == kStatusFinished && !lengthKnown) {
        if (sink.hold) {
            status = writeHeader(to, produced, format.sampleRate, variant);
            if (status == kStatusFinished) status = writeAll(to, sink.held, sink.heldSize);
        } else if (fseeko(to, headerAt, SEEK_SET) != 0 ||
                   writeHeader(to, produced, format.sampleRate, variant) != kStatusFinished ||
                   fseeko(to, 0, SEEK_END) != 0) {
            status = kStatusWrite;
        }
    }
    ioHooks.release(sink.held);
    return status;
}

int convertAdpToWave(FILE* from, FILE* to) {
    std::array<uint8_t, kAdpHeaderSize> header;
    if (ioHooks.read(header.data(), 1, header.size(), from) != header.size()) {
        return std::ferror(from) ? kStatusRead : kStatusFormat;
    }
    uint16_t rate = 0;
    uint32_t payloadLength = 0;
    const int variant = readAdpHeader(header.data(), &rate, &payloadLength);
    if (variant < 0 || rate == 0) return kStatusFormat;

    // The samples must fit a WAVE file's 32-bit sizes.
    const uint64_t dataBytes = uint64_t{payloadLength} * count[variant] * sizeof(int16_t);
    if (dataBytes > 0xFFFFFFFFu - 36) return kStatusFormat;
    const int64_t left = streamBytesLeft(from);
    if (left >= 0 && static_cast<uint64_t>(left) < payloadLength) return kStatusFormat;

    std::array<uint8_t, kWaveHeaderSize> wave;
    makeWaveHeader(rate, static_cast<uint32_t>(dataBytes), wave.data());
    const int status = writeAll(to, wave.data(), wave.size());
    if (status != kStatusFinished) return status;
    return decodePayload(from, to, static_cast<uint8_t>(variant), payloadLength);
}
