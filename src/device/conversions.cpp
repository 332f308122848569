#include "device/conversions.h"

#include <algorithm>
#include <array>
#include <bit>
#include <memory>
#include <new>
#include <vector>

#include "codec/adpcm.h"
#include "device/adpWriter.h"
#include "io/ioHooks.h"
#include "io/status.h"
#include "kestrune/kestrune.hpp"
#include "wave/waveFile.h"
#include "wave/waveWriter.h"

namespace kestrune::detail {

namespace {

// Samples per block: the payload streams through the encoder in blocks of this size.
constexpr uint32_t kBlockSamples = 1u << 15;

int checkFormat(int16_t readerStatus, const WaveFormat& f) {
    if (readerStatus != kWaveOk || f.formatTag != 1 || f.channels != 1) return kStatusFormat;
    if (!rateAccepted(f.sampleRate)) return kStatusRate;
    if (f.bitsPerSample != 16) return kStatusFormat;
    return kStatusFinished;
}

// Samples are little-endian in WAVE files; swapping is its own inverse.
void swapLittleEndian(int16_t* samples, std::size_t n) {
    if constexpr (std::endian::native == std::endian::big) {
        for (std::size_t i = 0; i < n; ++i) {
            const auto u = static_cast<uint16_t>(samples[i]);
            samples[i] = static_cast<int16_t>((u >> 8) | (u << 8));
        }
    }
}

// Reads up to payloadBytes of samples and encodes them with the vendor's quantiser (the
// encoder's level 0) into the writer. When the length is known, a short read means the
// input changed under us; otherwise the end of the stream ends the payload.
int encodePayload(FILE* from, uint64_t payloadBytes, bool lengthKnown, uint32_t rate,
                  uint8_t variant, AdpWriter* writer) try {
    auto* samples = static_cast<int16_t*>(ioHooks.allocate(kBlockSamples * sizeof(int16_t)));
    if (samples == nullptr) return kStatusMemory;
    const std::unique_ptr<int16_t, decltype(ioHooks.release)> owned(samples, ioHooks.release);
    kestrune::Result<kestrune::Encoder> encoder =
        kestrune::Encoder::create({rate, length[variant], 0, kestrune::Tune::snr});
    if (!encoder) return kStatusFormat;
    std::vector<uint8_t> codes;
    codes.reserve(kBlockSamples / count[variant] + 1);

    int status = kStatusFinished;
    uint64_t left = payloadBytes & ~uint64_t{1};  // an odd last byte is not a sample
    while (status == kStatusFinished && left > 0) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<uint64_t>(left, kBlockSamples * sizeof(int16_t)));
        const std::size_t got = ioHooks.read(samples, 1, want, from);
        if (got < want && (lengthKnown || std::ferror(from))) return kStatusRead;
        left = got < want ? 0 : left - got;
        const std::size_t n = got / sizeof(int16_t);
        swapLittleEndian(samples, n);
        codes.clear();
        encoder->encode({samples, n}, codes);
        status = writer->add(codes.data(), codes.size());
    }
    codes.clear();
    encoder->finish(codes);  // the codes that do not fill a byte are not written
    return status == kStatusFinished ? writer->add(codes.data(), codes.size()) : status;
} catch (const std::bad_alloc&) {
    return kStatusMemory;
}

constexpr uint32_t kBlockBytes = 1u << 14;

int decodePayload(FILE* from, FILE* to, uint8_t variant, uint32_t payloadLength) {
    auto* codes = static_cast<uint8_t*>(ioHooks.allocate(kBlockBytes));
    auto* samples =
        static_cast<int16_t*>(ioHooks.allocate(kBlockBytes * count[variant] * sizeof(int16_t)));
    int status = (samples == nullptr || codes == nullptr) ? kStatusMemory : kStatusFinished;

    kestrune::Result<kestrune::Decoder> decoder = kestrune::Decoder::create(length[variant]);
    if (!decoder) status = kStatusFormat;
    uint32_t left = payloadLength;
    while (status == kStatusFinished && left > 0) {
        const uint32_t want = std::min(left, kBlockBytes);
        const std::size_t got = ioHooks.read(codes, 1, want, from);
        if (got < want) {
            status = std::ferror(from) ? kStatusRead : kStatusFormat;  // payload cut short
            break;
        }
        left -= want;
        const std::size_t n =
            decoder->decode({codes, want}, {samples, std::size_t{want} * count[variant]});
        swapLittleEndian(samples, n);
        status = writeAll(to, reinterpret_cast<const uint8_t*>(samples), n * sizeof(int16_t));
    }
    ioHooks.release(codes);
    ioHooks.release(samples);
    return status;
}

}  // namespace

Done convertWaveToAdp(FILE* from, FILE* to, bool toCanSeek, uint8_t variant) {
    WaveFormat format{};
    uint32_t declared = 0;
    const int16_t readerStatus = waveFileOpen(&format, from, &declared);
    int status = checkFormat(readerStatus, format);
    if (status != kStatusFinished) return Failure{status, ""};

    // The payload is the data chunk, cut short where the input ends first.
    const int64_t left = streamBytesLeft(from);
    const bool lengthKnown = left >= 0;
    const uint64_t payloadBytes =
        lengthKnown ? std::min<uint64_t>(declared, static_cast<uint64_t>(left)) : declared;

    AdpWriter writer;
    const int64_t length =
        lengthKnown ? static_cast<int64_t>(payloadBytes / sizeof(int16_t) / count[variant]) : -1;
    status = writer.start(to, toCanSeek, format.sampleRate, variant, length);
    if (status == kStatusFinished) {
        status =
            encodePayload(from, payloadBytes, lengthKnown, format.sampleRate, variant, &writer);
    }
    if (status == kStatusFinished) status = writer.finish();
    if (status == kStatusWrite) return Failure::ofErrno(status);
    return status == kStatusFinished ? Done() : Failure{status, ""};
}

Done readCheckedAdpHeader(FILE* from, AdpInfo* info) {
    std::array<uint8_t, kAdpHeaderSize> header;
    if (ioHooks.read(header.data(), 1, header.size(), from) != header.size()) {
        if (std::ferror(from)) return Failure{kStatusRead, ""};
        return Failure{kStatusFormat, "too short for a device file's 16-byte header"};
    }
    return checkAdpHeader(header.data(), info);
}

Done readAdpHeaderFrom(FILE* from, AdpInfo* info, bool rf64) {
    if (Done read = readCheckedAdpHeader(from, info); !read) return read;
    const uint64_t samples = uint64_t{info->payloadLength} * count[info->variant];
    if (!rf64 && samples * sizeof(int16_t) > 0xFFFFFFFFu - 36) {
        return Failure{kStatusFormat, "payload too long for a WAVE file"};  // 32-bit sizes
    }
    const int64_t left = streamBytesLeft(from);
    if (left >= 0 && static_cast<uint64_t>(left) < info->payloadLength) {
        return Failure{kStatusFormat, kShortPayload};
    }
    return {};
}

Done decodeAdpPayload(FILE* from, FILE* to, const AdpInfo& info) {
    const auto variant = static_cast<uint8_t>(info.variant);
    const uint64_t dataBytes = uint64_t{info.payloadLength} * count[variant] * sizeof(int16_t);
    std::array<uint8_t, kMaxWaveHeaderSize> wave;
    const std::size_t headerSize = makeWaveHeader(info.rate, dataBytes, wave.data());
    int status = writeAll(to, wave.data(), headerSize);
    if (status == kStatusFinished) status = decodePayload(from, to, variant, info.payloadLength);
    if (status == kStatusFinished) return {};
    if (status == kStatusWrite) return Failure::ofErrno(status);
    return Failure{status, status == kStatusFormat ? kShortPayload : ""};
}

Done convertAdpToWave(FILE* from, FILE* to, AdpInfo* info) {
    AdpInfo local{};
    if (info == nullptr) info = &local;
    if (Done read = readAdpHeaderFrom(from, info, false); !read) return read;
    return decodeAdpPayload(from, to, *info);
}

}  // namespace kestrune::detail
