// waveFileOpen on arbitrary bytes, from a seekable and a pipe-like stream: it must end,
// agree between the two, and on success stand within the input.
#include <cstdlib>

#include "fuzzSupport.h"
#include "wave/waveFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    WaveFormat seekFormat{}, pipeFormat{};
    uint32_t seekSize = 0, pipeSize = 0;

    FILE* fp = fuzzInput(data, size, true, nullptr);
    const int16_t seekStatus = waveFileOpen(&seekFormat, fp, &seekSize);
    const long at = std::ftell(fp);
    std::fclose(fp);

    FuzzPipe pipe;
    fp = fuzzInput(data, size, false, &pipe);
    const int16_t pipeStatus = waveFileOpen(&pipeFormat, fp, &pipeSize);
    std::fclose(fp);

    if (seekStatus != kWaveOk && seekStatus != kWaveBadStructure) std::abort();
    if (seekStatus != pipeStatus) std::abort();
    if (seekStatus == kWaveOk) {
        if (at < 0 || static_cast<size_t>(at) > size) std::abort();
        if (seekSize != pipeSize || std::memcmp(&seekFormat, &pipeFormat, sizeof seekFormat) != 0) {
            std::abort();
        }
    }
    return 0;
}
