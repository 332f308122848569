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

int writeAll(FILE* to, const uint8_t* bytes, std::size_t n) {
    if (n == 0) return kStatusFinished;
    return std::fwrite(bytes, 1, n, to) == n ? kStatusFinished : kStatusWrite;
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
                  AdpWriter* writer) {
    auto* samples = static_cast<int16_t*>(ioHooks.allocate(kBlockSamples * sizeof(int16_t)));
    auto* codes = static_cast<uint8_t*>(ioHooks.allocate(kBlockSamples / count[variant] + 1));
    int status = (samples == nullptr || codes == nullptr) ? kStatusMemory : kStatusFinished;

    EncoderStream stream{};  // this conversion's own, so that conversions may run at once
    uint64_t left = payloadBytes & ~uint64_t{1};  // an odd last byte is not a sample
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
        const int32_t bytes = encodeStream(&stream, variant, samples, n, codes);
        status = adpWriterAdd(writer, codes, static_cast<std::size_t>(bytes));
    }
    ioHooks.release(samples);
    ioHooks.release(codes);
    return status;
}

constexpr const char* kShortPayload = "payload shorter than its length field";
constexpr uint32_t kBlockBytes = 1u << 14;

void putLe(uint8_t* p, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

int decodePayload(FILE* from, FILE* to, uint8_t variant, uint32_t payloadLength) {
    auto* codes = static_cast<uint8_t*>(ioHooks.allocate(kBlockBytes));
    auto* samples =
        static_cast<int16_t*>(ioHooks.allocate(kBlockBytes * count[variant] * sizeof(int16_t)));
    int status = (samples == nullptr || codes == nullptr) ? kStatusMemory : kStatusFinished;

    DecoderStream stream{};
    uint32_t left = payloadLength;
    while (status == kStatusFinished && left > 0) {
        const uint32_t want = std::min(left, kBlockBytes);
        const std::size_t got = ioHooks.read(codes, 1, want, from);
        if (got < want) {
            status = std::ferror(from) ? kStatusRead : kStatusFormat;  // payload cut short
            break;
        }
        left -= want;
        const auto n = static_cast<uint32_t>(decodeStream(&stream, variant, codes, want, samples));
        swapLittleEndian(samples, n);
        status = writeAll(to, reinterpret_cast<const uint8_t*>(samples), n * sizeof(int16_t));
    }
    ioHooks.release(codes);
    ioHooks.release(samples);
    return status;
}

}  // namespace

std::size_t makeWaveHeader(uint32_t rate, uint64_t dataBytes, uint8_t* h) {
    const bool rf64 = dataBytes > 0xFFFFFFFFu - 36;
    std::size_t at = 12;
    std::memcpy(h, rf64 ? "RF64" : "RIFF", 4);
    putLe(h + 4, rf64 ? 0xFFFFFFFFu : 36 + dataBytes, 4);
    std::memcpy(h + 8, "WAVE", 4);
    if (rf64) {
        std::memcpy(h + 12, "ds64", 4);
        putLe(h + 16, 28, 4);
        putLe(h + 20, kMaxWaveHeaderSize - 8 + dataBytes, 8);  // RIFF size
        putLe(h + 28, dataBytes, 8);
        putLe(h + 36, dataBytes / 2, 8);  // samples
        putLe(h + 44, 0, 4);              // no table
        at = 48;
    }
    h += at - 12;
    std::memcpy(h + 12, "fmt ", 4);
    putLe(h + 16, 16, 4);
    putLe(h + 20, 1, 2);  // linear PCM
    putLe(h + 22, 1, 2);  // one channel
    putLe(h + 24, rate, 4);
    putLe(h + 28, rate * 2, 4);  // byte rate
    putLe(h + 32, 2, 2);         // block align
    putLe(h + 34, 16, 2);        // bits per sample
    std::memcpy(h + 36, "data", 4);
    putLe(h + 40, rf64 ? 0xFFFFFFFFu : dataBytes, 4);
    return at + 32;
}

int adpWriterStart(AdpWriter* w, FILE* to, bool toCanSeek, uint32_t rate, uint8_t variant,
                   int64_t length) {
    *w = AdpWriter{to, rate, variant, false, -1, nullptr, 0, 0, 0};
    if (length >= 0) return writeHeader(to, static_cast<int32_t>(length), rate, variant);
    if (toCanSeek && (w->headerAt = ftello(to)) >= 0) {
        return writeHeader(to, 0, rate, variant);  // rewritten at the end
    }
    w->hold = true;
    w->headerAt = -1;
    return kStatusFinished;
}

int adpWriterAdd(AdpWriter* w, const uint8_t* codes, std::size_t n) {
    w->written += n;
    if (!w->hold || n == 0) return writeAll(w->to, codes, n);
    if (w->heldSize + n > w->heldCapacity) {
        const std::size_t capacity = std::max(w->heldCapacity * 2, w->heldSize + n);
        auto* grown = static_cast<uint8_t*>(ioHooks.reallocate(w->held, capacity));
        if (grown == nullptr) return kStatusMemory;
        w->held = grown;
        w->heldCapacity = capacity;
    }
    std::memcpy(w->held + w->heldSize, codes, n);
    w->heldSize += n;
    return kStatusFinished;
}

int adpWriterFinish(AdpWriter* w) {
    const auto length = static_cast<int32_t>(w->written);
    if (w->hold) {
        const int status = writeHeader(w->to, length, w->rate, w->variant);
        return status == kStatusFinished ? writeAll(w->to, w->held, w->heldSize) : status;
    }
    if (w->headerAt < 0) return kStatusFinished;  // the length was known from the start
    if (fseeko(w->to, w->headerAt, SEEK_SET) != 0 ||
        writeHeader(w->to, length, w->rate, w->variant) != kStatusFinished ||
        fseeko(w->to, 0, SEEK_END) != 0) {
        return kStatusWrite;
    }
    return kStatusFinished;
}

void adpWriterRelease(AdpWriter* w) {
    ioHooks.release(w->held);
    w->held = nullptr;
}

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

    AdpWriter writer;
    const int64_t length =
        lengthKnown ? static_cast<int64_t>(payloadBytes / sizeof(int16_t) / count[variant]) : -1;
    status = adpWriterStart(&writer, to, toCanSeek, format.sampleRate, variant, length);
    if (status == kStatusFinished) {
        status = encodePayload(from, payloadBytes, lengthKnown, variant, &writer);
    }
    if (status == kStatusFinished) status = adpWriterFinish(&writer);
    adpWriterRelease(&writer);
    return status;
}

const char* adpHeaderProblem(const uint8_t* header, AdpInfo* info) {
    uint16_t rate = 0;
    uint32_t payloadLength = 0;
    const int variant = readAdpHeader(header, &rate, &payloadLength);
    *info = AdpInfo{variant, rate, payloadLength};
    if (std::memcmp(header, "Audi", 4) != 0) return "not a device file (no \"Audi\" mark)";
    if (variant < 0) return "not a device file (unknown code description in bytes 4-7)";
    if (rate == 0) return "not a device file (sample rate 0)";
    return nullptr;
}

int readAdpHeaderFrom(FILE* from, AdpInfo* info, const char** problem, bool rf64) {
    std::array<uint8_t, kAdpHeaderSize> header;
    if (ioHooks.read(header.data(), 1, header.size(), from) != header.size()) {
        if (std::ferror(from)) return kStatusRead;
        *problem = "too short for a device file's 16-byte header";
        return kStatusFormat;
    }
    *problem = adpHeaderProblem(header.data(), info);
    if (*problem != nullptr) return kStatusFormat;
    const uint64_t samples = uint64_t{info->payloadLength} * count[info->variant];
    if (!rf64 && samples * sizeof(int16_t) > 0xFFFFFFFFu - 36) {
        *problem = "payload too long for a WAVE file";  // its sizes are 32-bit
        return kStatusFormat;
    }
    const int64_t left = streamBytesLeft(from);
    if (left >= 0 && static_cast<uint64_t>(left) < info->payloadLength) {
        *problem = kShortPayload;
        return kStatusFormat;
    }
    return kStatusFinished;
}

int decodeAdpPayload(FILE* from, FILE* to, const AdpInfo& info, const char** problem) {
    const auto variant = static_cast<uint8_t>(info.variant);
    const uint64_t dataBytes = uint64_t{info.payloadLength} * count[variant] * sizeof(int16_t);
    std::array<uint8_t, kMaxWaveHeaderSize> wave;
    const std::size_t headerSize = makeWaveHeader(info.rate, dataBytes, wave.data());
    const int status = writeAll(to, wave.data(), headerSize);
    if (status != kStatusFinished) return status;
    const int decoded = decodePayload(from, to, variant, info.payloadLength);
    if (decoded == kStatusFormat) *problem = kShortPayload;
    return decoded;
}

int convertAdpToWave(FILE* from, FILE* to, AdpInfo* info, const char** problem) {
    AdpInfo local{};
    if (info == nullptr) info = &local;
    const char* unused = nullptr;
    if (problem == nullptr) problem = &unused;
    const int status = readAdpHeaderFrom(from, info, problem, false);
    return status == kStatusFinished ? decodeAdpPayload(from, to, *info, problem) : status;
}
