// Readers of recordings: each format's decoder behind one small interface, tried in the
// order of the table in readers.cpp. A new input format is one file with its Reader and one
// row of that table.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "io/failure.h"

namespace kestrune::detail {

// A recording's bytes: in memory, or behind a descriptor the caller keeps open (and closes)
// for as long as the reader lives.
struct Source {
    std::span<const uint8_t> bytes;
    int fd = -1;  // used when >= 0
};

class Reader {
public:
    // The length of a stream that does not say how long it is.
    static constexpr int64_t kUnknownFrames = INT64_MAX;

    virtual ~Reader() = default;
    virtual uint32_t rate() const = 0;
    virtual int channels() const = 0;
    // Frames (samples per channel) the recording says it holds; some formats only estimate.
    virtual int64_t frames() const = 0;
    // Reads the next frames into `out` (interleaved floats, full scale 1, its size a whole
    // number of frames); returns how many frames. Fewer only at the end, where failure()
    // says whether an error ended it.
    virtual std::size_t read(std::span<float> out) = 0;
    // The decoder's complaint when the last read stopped on an error; null when it did not.
    virtual const char* failure() const = 0;
    // Back to the first frame; false when the recording cannot be read again.
    virtual bool rewind() = 0;
    // Once read to the end, after `framesRead` frames and `failure`: how the recording fell
    // short of its length ("truncated: ..."), or empty when it did not.
    virtual std::string shortfall(int64_t framesRead, const char* failure) const = 0;
};

using ReaderOutcome = Outcome<std::unique_ptr<Reader>>;

// One row per format: opens a source it reads, or fails (kStatusFormat) saying why it cannot.
struct ReaderRow {
    const char* name;
    ReaderOutcome (*open)(const Source& source);
};

std::span<const ReaderRow> readers();
// The first reader that takes the source; the last one's failure when none does.
ReaderOutcome openReader(const Source& source);

// The libsndfile row (WAV, AIFF, FLAC, Ogg Vorbis, Opus, MP3, ...).
ReaderOutcome openSndfile(const Source& source);

// Interleaved float samples in memory (not a row: no bytes to recognise); fails
// (kStatusFormat) when the rate or channels cannot be, or the samples are not whole frames.
ReaderOutcome sampleReader(std::span<const float> samples, uint32_t rate, int channels);

}  // namespace kestrune::detail
