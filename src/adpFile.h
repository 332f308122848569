// The device's ADPCM file: its 16-byte header and the conversion of a WAVE stream into it.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <cstdio>

inline constexpr std::size_t kAdpHeaderSize = 16;

// Sample rates the device plays, in Hz.
inline constexpr std::array<uint32_t, 8> kAcceptedRates = {4000,  5300,  6400,  8000,
                                                           10600, 12800, 16000, 32000};

bool rateAccepted(uint32_t rate);

// Fills the 16-byte header: "Audi", the variant's code description, the rate (high byte
// first) and the payload length (most significant byte first). Returns 0.
int makeAdpHeader(int32_t payloadLength, uint16_t rate, uint8_t variant, uint8_t* header);

// Writes a device file onto a stream as its codes come. The header goes first when the
// payload's length is known; otherwise a stream that can seek gets a header rewritten at
// the end, and one that cannot has the codes held in memory until then.
struct AdpWriter {
    FILE* to;
    uint32_t rate;
    uint8_t variant;
    bool hold;
    off_t headerAt;  // where the header is rewritten; -1 when it is final or held
    uint8_t* held;
    std::size_t heldSize;
    std::size_t heldCapacity;
    uint64_t written;  // payload bytes so far
};

// Starts the file; `length` is the payload's length in bytes, or -1 when not known yet.
// Returns kStatusFinished or the failure's status.
int adpWriterStart(AdpWriter* writer, FILE* to, bool toCanSeek, uint32_t rate, uint8_t variant,
                   int64_t length);
int adpWriterAdd(AdpWriter* writer, const uint8_t* codes, std::size_t n);
// Completes the header (or writes the held file). `to` is not flushed or closed.
int adpWriterFinish(AdpWriter* writer);
// Frees held codes; call on every path once started.
void adpWriterRelease(AdpWriter* writer);

// The canonical header of a mono 16-bit PCM file: RIFF, WAVE, a 16-byte fmt, data (44
// bytes). Past 32-bit sizes it is RF64: the sizes are 0xFFFFFFFF and a ds64 chunk holds
// them in 64 bits (80 bytes). Returns the header's size.
inline constexpr std::size_t kMaxWaveHeaderSize = 80;
std::size_t makeWaveHeader(uint32_t rate, uint64_t dataBytes, uint8_t* header);

// Converts the mono 16-bit PCM WAVE stream `from` into the device's file on `to`,
// encoding the data chunk (up to its declared size or the end of the input) with the
// given variant. `toCanSeek` says whether the header may be written after the payload
// when the payload's length is not known in advance; without it the codes are held in
// memory until the end. Returns kStatusFinished or the failure's status; `to` is not
// flushed or closed.
int convertWaveToAdp(FILE* from, FILE* to, bool toCanSeek, uint8_t variant);

// Reads the 16-byte header and returns the variant it describes (0 or 13, or -1 when the
// header is not one of the two), with the rate and payload length.
int readAdpHeader(const uint8_t* header, uint16_t* rate, uint32_t* payloadLength);

// What a device file's header says.
struct AdpInfo {
    int variant;  // kVariant4Bit, kVariant2Bit, or -1
    uint16_t rate;
    uint32_t payloadLength;  // bytes
};

// Reads the 16-byte header into *info; returns why it is not a device file's header
// that can be decoded, or nullptr when it is.
const char* adpHeaderProblem(const uint8_t* header, AdpInfo* info);

// Decodes the device file `from` into a canonical mono 16-bit PCM WAVE file on `to`.
// Returns kStatusFinished, kStatusFormat for a bad header or a payload shorter than its
// length field (with *problem saying which, when given), or the failure's status. *info,
// when given, receives what the header says. Bytes after the payload are ignored. Samples
// past a WAVE file's 32-bit sizes are a format error.
int convertAdpToWave(FILE* from, FILE* to, AdpInfo* info = nullptr, const char** problem = nullptr);

// The same in two steps, so that a bad device file is told before any output is made:
// the header read and checked (and a payload that is known to fall short), then the
// payload decoded. With `rf64`, samples past 32-bit sizes make an RF64 file instead.
int readAdpHeaderFrom(FILE* from, AdpInfo* info, const char** problem, bool rf64);
int decodeAdpPayload(FILE* from, FILE* to, const AdpInfo& info, const char** problem);
