#include "wave/waveWriter.h"

#include <cstring>

namespace {

void putLe(uint8_t* p, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
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
