// Reader of the RIFF WAVE header.
#pragma once

#include <cstdint>
#include <cstdio>

// The six fields of the format chunk, in file order.
struct WaveFormat {
    uint16_t formatTag;  // 1: linear PCM
    uint16_t channels;
    uint32_t sampleRate;  // samples per second
    uint32_t byteRate;    // bytes per second
    uint16_t blockAlign;  // bytes per sample frame
    uint16_t bitsPerSample;
};

inline constexpr int16_t kWaveOk = 0;
inline constexpr int16_t kWaveNoStream = -1;
inline constexpr int16_t kWaveBadStructure = -2;

// Reads the header from fp, which stands at the start of the file: the RIFF and WAVE
// tags, the format chunk (which must come first, at least 16 bytes long), then any
// chunks up to the data chunk. Sizes are checked against what is left of a seekable
// stream; a stream that cannot seek is skipped through by reading. After an odd-sized
// chunk a zero pad byte is skipped; a non-zero byte there starts the next tag.
// Returns kWaveOk with fp at the first sample byte and *dataSize (if given) holding the
// data chunk's declared size, kWaveNoStream without a stream, or kWaveBadStructure.
int16_t waveFileOpen(WaveFormat* format, FILE* fp, uint32_t* dataSize = nullptr);

// Bytes from the current position to the end of fp, or -1 when fp cannot seek.
int64_t streamBytesLeft(FILE* fp);
