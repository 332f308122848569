// kestrune: encode audio into the device files a Kestrune voice-playback device plays, read
// and check them, decode them into what the device plays, and measure how close that is.
//
// Samples are mono, signed 16-bit, at one of the rates the device plays. No function
// throws; failures come back as an Error with a message for each value. No function does
// I/O but those given a stream.
//
//     kestrune::EncoderOptions options{16000, 4, kestrune::kDefaultLevel};
//     auto file = kestrune::encodeFile(samples, options);  // the whole device file
//     if (!file) std::puts(kestrune::message(file.error()));
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <span>
#include <utility>
#include <variant>
#include <vector>

#include "kestrune/export.h"

namespace kestrune {

enum class Error {
    none = 0,
    invalid_rate,     // not one of the rates the device plays
    invalid_bits,     // not 4 or 2
    invalid_level,    // not a search level
    not_device_file,  // no "Audi" mark, or a code description the device does not have
    truncated,        // shorter than its header says
    too_long,         // more than a device file's 32-bit length can say
    length_mismatch,  // a streamed file given more or fewer samples than announced
    write_failed,     // the stream would not take the bytes
    finished,         // the encoder was used after finish()
    invalid_tune,     // not perceptual or snr
    out_of_memory,    // an allocation failed (the C interface's status; recording.hpp's)
    // 12 is the C interface's own KESTRUNE_NULL_ARGUMENT.
    cannot_open = 13,  // a recording that cannot be opened
    not_audio,         // a recording that is not audio any reader reads
    read_failed,       // a recording that cannot be read (or read again)
    invalid_channel,   // a channel the recording does not have
    invalid_option,    // an option's value outside its range (a gain, a level, a margin)
};

// What an Error means, in a few words ("not a device file", ...).
KESTRUNE_API const char* message(Error error);
// Its name as written here ("not_device_file", ...), for bindings; "unknown" for a value
// that is not an Error.
KESTRUNE_API const char* name(Error error);

// The library's version, "MAJOR.MINOR.PATCH".
KESTRUNE_API const char* version();

// A value or the Error that prevented it.
template <class T>
class Result {
public:
    Result(T value) : v_(std::move(value)) {}  // NOLINT: a result converts from its value
    Result(Error error) : v_(error) {}         // NOLINT: and from its error
    explicit operator bool() const { return std::holds_alternative<T>(v_); }
    T& operator*() { return std::get<T>(v_); }
    const T& operator*() const { return std::get<T>(v_); }
    T* operator->() { return &std::get<T>(v_); }
    const T* operator->() const { return &std::get<T>(v_); }
    Error error() const { return *this ? Error::none : std::get<Error>(v_); }

private:
    std::variant<T, Error> v_;
};

inline constexpr std::array<uint32_t, 8> kRates = {4000,  5300,  6400,  8000,
                                                   10600, 12800, 16000, 32000};
inline constexpr int kLevels = 10;       // search levels 0 ... 9; 0 is the vendor's quantiser
inline constexpr int kDefaultLevel = 5;  // the tools' default
inline constexpr std::size_t kHeaderSize = 16;
// The most payload bytes a device file holds: what its 32-bit length field can say.
inline constexpr uint64_t kMaxPayloadBytes = 0xFFFFFFFFu;

// Samples one byte of codes plays: 2 at 4 bits, 4 at 2 bits.
constexpr int samplesPerByte(int bits) {
    return 8 / bits;
}

// What the search minimises above level 0: the error as heard (perceptually weighted,
// noise moved under the formants), or the plain squared error (the highest SNR).
enum class Tune { perceptual, snr };

// How to encode; the defaults are the tools'.
struct EncoderOptions {
    uint32_t rate = 16000;         // one of kRates (Hz)
    int bits = 4;                  // code width: 4 or 2
    int level = kDefaultLevel;     // search level, 0 to kLevels - 1
    Tune tune = Tune::perceptual;  // what the search minimises (level 0 is the same under either)
    // A ceiling (dBFS) the playback is held under at levels above 0, as far as any code can;
    // 0 or above, or not a number: full scale. Level 0 plays what the vendor's quantiser does.
    double peakDbfs = 0;
};

// What a device file's header says.
struct Header {
    uint32_t rate = 0;          // Hz
    int bits = 0;               // 4 or 2
    uint32_t payloadBytes = 0;  // the codes' bytes after the header
    uint64_t samples() const { return uint64_t{payloadBytes} * samplesPerByte(bits); }
};

// The whole device file, header first, for mono 16-bit samples at options.rate.
// Errors: invalid_rate, invalid_bits, invalid_level, invalid_tune (options); too_long
// (more than a device file holds). Codes at the end that do not fill a byte are not written.
KESTRUNE_API Result<std::vector<uint8_t>> encodeFile(std::span<const int16_t> samples,
                                                     const EncoderOptions& options);

// Encodes a stream in blocks, with memory that does not grow with its length. The codes
// come out as they are decided, the same however the samples are split into calls; a
// device file's header must come first, so either the number of samples is announced
// (encodeStream) or the caller writes header() once the stream is over.
class KESTRUNE_API Encoder {
public:
    // Errors: invalid_rate, invalid_bits, invalid_level, invalid_tune.
    static Result<Encoder> create(const EncoderOptions& options);
    Encoder(Encoder&&) noexcept;
    Encoder& operator=(Encoder&&) noexcept;
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;
    ~Encoder();

    // Encodes more samples and appends to `codes` every byte of codes now decided.
    // Errors: finished (after finish()); too_long (more than a device file holds).
    Error encode(std::span<const int16_t> samples, std::vector<uint8_t>& codes);
    // Ends the stream: appends the remaining whole bytes (codes that do not fill a byte
    // are not written). Errors: finished (called twice); too_long.
    Error finish(std::vector<uint8_t>& codes);
    // The 16-byte header of the file whose payload is `payloadBytes` long, at this
    // encoder's rate and width.
    std::array<uint8_t, kHeaderSize> header(uint32_t payloadBytes) const;
    const EncoderOptions& options() const { return options_; }

private:
    struct State;
    Encoder(const EncoderOptions& options, std::unique_ptr<State> state);
    EncoderOptions options_;
    std::unique_ptr<State> state_;
};

// Encodes `samples` samples read from `read` (which fills its span and returns how many
// it gave, 0 at the end) onto `to`, header first, in blocks, with flat memory.
// Errors: those of Encoder::create; too_long (the samples make more than a device file
// holds); write_failed (`to` refused bytes); length_mismatch (`read` gave other than
// `samples` samples).
KESTRUNE_API Error encodeStream(const EncoderOptions& options, uint64_t samples,
                                const std::function<std::size_t(std::span<int16_t>)>& read,
                                std::FILE* to);

// Reads and checks the 16-byte header at the start of `file` (the payload is not read).
// Errors: not_device_file (shorter than a header, or not a header the device plays).
KESTRUNE_API Result<Header> readHeader(std::span<const uint8_t> file);

// The samples the device plays for a whole device file; bytes after the payload are
// ignored. Errors: not_device_file; truncated (a payload shorter than the header says).
KESTRUNE_API Result<std::vector<int16_t>> decodeFile(std::span<const uint8_t> file);

// Decodes a payload in blocks, as the device plays it, with memory that does not grow
// with its length.
class KESTRUNE_API Decoder {
public:
    // bits: 4 or 2. Errors: invalid_bits.
    static Result<Decoder> create(int bits);
    Decoder(Decoder&&) noexcept;
    Decoder& operator=(Decoder&&) noexcept;
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;
    ~Decoder();

    // Samples that one byte of codes plays: 2 at 4 bits, 4 at 2 bits.
    std::size_t samplesPerByte() const { return kestrune::samplesPerByte(bits_); }
    // Decodes the whole bytes of `codes` whose samples fit in `samples`, in order, from
    // where the last call stopped; returns how many samples it wrote.
    std::size_t decode(std::span<const uint8_t> codes, std::span<int16_t> samples);

private:
    struct State;
    Decoder(int bits, std::unique_ptr<State> state);
    int bits_;
    std::unique_ptr<State> state_;
};

// How close what the decoder plays is to the source, in dB: SNR over the whole stream,
// segmental SNR over 20 ms frames, and SNR of the error as heard (perceptually weighted,
// as the search's perceptual tune weighs it). +inf for an exact copy; 0 for no signal.
struct Quality {
    double snrDb = 0, segmentalSnrDb = 0, weightedSnrDb = 0;
};
// source and played: in step, sample for sample; rate: theirs (Hz), which the weighting
// follows.
KESTRUNE_API Quality measure(std::span<const int16_t> source, std::span<const int16_t> played,
                             uint32_t rate);

// The same measure taken in blocks, as source and playback come.
class KESTRUNE_API Meter {
public:
    explicit Meter(uint32_t rate);  // the samples' rate, which the weighting follows
    Meter(Meter&&) noexcept;
    Meter& operator=(Meter&&) noexcept;
    Meter(const Meter&) = delete;
    Meter& operator=(const Meter&) = delete;
    ~Meter();

    // Adds samples of the source and, in step with them, what the decoder plays.
    void add(std::span<const int16_t> source, std::span<const int16_t> played);
    // How many samples have been added.
    uint64_t samples() const;
    // Ends the measure (the weighting waits for the window after the last samples) and
    // tells it; nothing may be added afterwards.
    Quality finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace kestrune
