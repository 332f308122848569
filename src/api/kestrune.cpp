// The public C++ interface over the codec library: argument checks, the device file's
// header, and whole files in memory or streamed.
#include "kestrune/kestrune.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "adpFile.h"
#include "codec/adpcm.h"
#include "codec/quality.h"
#include "codec/search.h"
#include "codec/weighting.h"
#include "io/status.h"

namespace kestrune {

// The public default and count of levels are the codec's, stated once for each side of
// the API.
static_assert(kestrune::kDefaultLevel == kDefaultSearchLevel);
static_assert(kestrune::kLevels == kSearchLevels);

namespace {

Error check(const EncoderOptions& o) {
    if (std::find(kRates.begin(), kRates.end(), o.rate) == kRates.end()) return Error::invalid_rate;
    if (o.bits != 4 && o.bits != 2) return Error::invalid_bits;
    if (o.level < 0 || o.level >= kLevels) return Error::invalid_level;
    if (o.tune != Tune::perceptual && o.tune != Tune::snr) return Error::invalid_tune;
    return Error::none;
}

// The magnitude the playback is held within: the largest sample at or under the ceiling.
int32_t ceiling(double peakDbfs) {
    if (!(peakDbfs < 0)) return kNoCeiling;
    return static_cast<int32_t>(std::floor(std::pow(10.0, peakDbfs / 20) * kNoCeiling));
}

}  // namespace

const char* version() {
    return KESTRUNE_VERSION;
}

// The levels' range, from their count.
const std::string kLevelRange = "not a search level (0 to " + std::to_string(kLevels - 1) + ")";

const char* message(Error error) {
    switch (error) {
        case Error::none:
            return "no error";
        case Error::invalid_rate:
            return "not a rate the device plays";
        case Error::invalid_bits:
            return "not a code width the device plays (4 or 2 bits)";
        case Error::invalid_level:
            return kLevelRange.c_str();
        case Error::not_device_file:
            return "not a device file";
        case Error::truncated:
            return "shorter than its header says";
        case Error::too_long:
            return "too long for a device file";
        case Error::length_mismatch:
            return "not as many samples as announced";
        case Error::write_failed:
            return "cannot write";
        case Error::finished:
            return "the encoder has finished";
        case Error::invalid_tune:
            return "not a tune (perceptual or snr)";
        case Error::out_of_memory:
            return "out of memory";
        case Error::cannot_open:
            return "cannot open the recording";
        case Error::not_audio:
            return "not audio that can be read";
        case Error::read_failed:
            return "cannot read the recording";
        case Error::invalid_channel:
            return "no such channel";
        case Error::invalid_option:
            return "an option's value is out of its range";
    }
    return "unknown error";
}

const char* name(Error error) {
    switch (error) {
        case Error::none:
            return "none";
        case Error::invalid_rate:
            return "invalid_rate";
        case Error::invalid_bits:
            return "invalid_bits";
        case Error::invalid_level:
            return "invalid_level";
        case Error::not_device_file:
            return "not_device_file";
        case Error::truncated:
            return "truncated";
        case Error::too_long:
            return "too_long";
        case Error::length_mismatch:
            return "length_mismatch";
        case Error::write_failed:
            return "write_failed";
        case Error::finished:
            return "finished";
        case Error::invalid_tune:
            return "invalid_tune";
        case Error::out_of_memory:
            return "out_of_memory";
        case Error::cannot_open:
            return "cannot_open";
        case Error::not_audio:
            return "not_audio";
        case Error::read_failed:
            return "read_failed";
        case Error::invalid_channel:
            return "invalid_channel";
        case Error::invalid_option:
            return "invalid_option";
    }
    return "unknown";
}

struct Encoder::State {
    SearchEncoder search;
    uint64_t bytes = 0;
    bool finished = false;
};

Encoder::Encoder(const EncoderOptions& options, std::unique_ptr<State> state)
    : options_(options), state_(std::move(state)) {}
Encoder::Encoder(Encoder&&) noexcept = default;
Encoder& Encoder::operator=(Encoder&&) noexcept = default;
Encoder::~Encoder() = default;

Result<Encoder> Encoder::create(const EncoderOptions& options) {
    if (const Error e = check(options); e != Error::none) return e;
    auto state = std::make_unique<State>(
        State{SearchEncoder(adpVariant(options.bits), options.level,
                            options.tune == Tune::snr ? SearchTune::kSnr : SearchTune::kPerceptual,
                            options.rate, ceiling(options.peakDbfs)),
              0, false});
    return Encoder(options, std::move(state));
}

Error Encoder::encode(std::span<const int16_t> samples, std::vector<uint8_t>& codes) {
    if (state_->finished) return Error::finished;
    const std::size_t before = codes.size();
    state_->search.encode(samples, codes);
    state_->bytes += codes.size() - before;
    return state_->bytes > kMaxPayloadBytes ? Error::too_long : Error::none;
}

Error Encoder::finish(std::vector<uint8_t>& codes) {
    if (state_->finished) return Error::finished;
    state_->finished = true;
    const std::size_t before = codes.size();
    state_->search.finish(codes);
    state_->bytes += codes.size() - before;
    return state_->bytes > kMaxPayloadBytes ? Error::too_long : Error::none;
}

std::array<uint8_t, kHeaderSize> Encoder::header(uint32_t payloadBytes) const {
    std::array<uint8_t, kHeaderSize> h{};
    makeAdpHeader(static_cast<int32_t>(payloadBytes), static_cast<uint16_t>(options_.rate),
                  adpVariant(options_.bits), h.data());
    return h;
}

Result<std::vector<uint8_t>> encodeFile(std::span<const int16_t> samples,
                                        const EncoderOptions& options) {
    Result<Encoder> encoder = Encoder::create(options);
    if (!encoder) return encoder.error();
    std::vector<uint8_t> file(kHeaderSize);
    file.reserve(kHeaderSize + samples.size() / 2 + 1);
    Error e = encoder->encode(samples, file);
    if (e == Error::none) e = encoder->finish(file);
    if (e != Error::none) return e;
    const auto h = encoder->header(static_cast<uint32_t>(file.size() - kHeaderSize));
    std::copy(h.begin(), h.end(), file.begin());
    return file;
}

Error encodeStream(const EncoderOptions& options, uint64_t samples,
                   const std::function<std::size_t(std::span<int16_t>)>& read, std::FILE* to) {
    Result<Encoder> encoder = Encoder::create(options);
    if (!encoder) return encoder.error();
    const uint64_t payload = samples / samplesPerByte(options.bits);
    if (payload > kMaxPayloadBytes) return Error::too_long;
    const auto h = encoder->header(static_cast<uint32_t>(payload));
    if (std::fwrite(h.data(), 1, h.size(), to) != h.size()) return Error::write_failed;
    std::vector<int16_t> block(8192);
    std::vector<uint8_t> codes;
    uint64_t read_ = 0, written = 0;
    for (bool last = false; !last;) {
        const std::size_t n = read(block);
        read_ += n;
        last = n == 0;
        const Error e =
            last ? encoder->finish(codes) : encoder->encode(std::span(block).first(n), codes);
        if (e != Error::none) return e;
        if (!codes.empty() && std::fwrite(codes.data(), 1, codes.size(), to) != codes.size()) {
            return Error::write_failed;
        }
        written += codes.size();
        codes.clear();
    }
    return read_ == samples && written == payload ? Error::none : Error::length_mismatch;
}

Result<Header> readHeader(std::span<const uint8_t> file) {
    if (file.size() < kHeaderSize) return Error::not_device_file;
    AdpInfo info{};
    if (!checkAdpHeader(file.data(), &info)) return Error::not_device_file;
    return Header{info.rate, info.bits(), info.payloadLength};
}

Result<std::vector<int16_t>> decodeFile(std::span<const uint8_t> file) {
    const Result<Header> header = readHeader(file);
    if (!header) return header.error();
    if (file.size() - kHeaderSize < header->payloadBytes) return Error::truncated;
    std::vector<int16_t> samples(header->samples());
    Result<Decoder> decoder = Decoder::create(header->bits);
    if (!decoder) return decoder.error();
    decoder->decode(file.subspan(kHeaderSize, header->payloadBytes), samples);
    return samples;
}

struct Decoder::State {
    DecoderStream stream{};
};

Decoder::Decoder(int bits, std::unique_ptr<State> state) : bits_(bits), state_(std::move(state)) {}
Decoder::Decoder(Decoder&&) noexcept = default;
Decoder& Decoder::operator=(Decoder&&) noexcept = default;
Decoder::~Decoder() = default;

Result<Decoder> Decoder::create(int bits) {
    if (bits != 4 && bits != 2) return Error::invalid_bits;
    return Decoder(bits, std::make_unique<State>());
}

std::size_t Decoder::decode(std::span<const uint8_t> codes, std::span<int16_t> samples) {
    const std::size_t bytes = std::min(codes.size(), samples.size() / samplesPerByte());
    std::size_t done = 0;
    // decodeStream counts in 32 bits; a larger span goes in parts.
    for (std::size_t at = 0; at < bytes;) {
        const auto n = static_cast<uint32_t>(std::min<std::size_t>(bytes - at, 1u << 30));
        done += static_cast<std::size_t>(decodeStream(&state_->stream, adpVariant(bits_),
                                                      codes.data() + at, n, samples.data() + done));
        at += n;
    }
    return done;
}

struct Meter::State {
    QualityMeter plain;
    WeightedMeter weighted;
};

Meter::Meter(uint32_t rate)
    : state_(std::make_unique<State>(State{QualityMeter(rate), WeightedMeter(rate)})) {}
Meter::Meter(Meter&&) noexcept = default;
Meter& Meter::operator=(Meter&&) noexcept = default;
Meter::~Meter() = default;

void Meter::add(std::span<const int16_t> source, std::span<const int16_t> played) {
    state_->plain.add(source, played);
    state_->weighted.add(source, played);
}

uint64_t Meter::samples() const {
    return state_->plain.samples();
}

Quality Meter::finish() {
    state_->weighted.finish();
    return {state_->plain.snrDb(), state_->plain.segSnrDb(), state_->weighted.snrDb()};
}

Quality measure(std::span<const int16_t> source, std::span<const int16_t> played, uint32_t rate) {
    Meter meter(rate);
    const std::size_t n = std::min(source.size(), played.size());
    meter.add(source.first(n), played.first(n));
    return meter.finish();
}

}  // namespace kestrune
