// The decoder on arbitrary bytes, from a seekable and a pipe-like stream: both must
// agree, and a finished output must be a canonical WAVE file of the promised length.
#include <cstdlib>

#include "adpFile.h"
#include "codec/adpcm.h"
#include "device/conversions.h"
#include "fuzzSupport.h"
#include "io/status.h"

using kestrune::detail::convertAdpToWave;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> outputs[2];
    int statuses[2];
    for (const bool seekable : {true, false}) {
        FuzzPipe pipe;
        FILE* from = fuzzInput(data, size, seekable, &pipe);
        FILE* to = fuzzPipeSink(&outputs[seekable]);
        statuses[seekable] = convertAdpToWave(from, to).status();
        std::fclose(to);
        std::fclose(from);
    }
    if (statuses[0] != statuses[1]) std::abort();
    if (statuses[1] == kStatusFinished) {
        if (outputs[0] != outputs[1]) std::abort();
        uint16_t rate = 0;
        uint32_t length = 0;
        const int variant = readAdpHeader(data, &rate, &length);
        if (variant < 0 || rate == 0 || length > size - kAdpHeaderSize) std::abort();
        const size_t expected = 44 + size_t{length} * count[variant] * 2;
        if (outputs[1].size() != expected) std::abort();
        if (std::memcmp(outputs[1].data(), "RIFF", 4) != 0) std::abort();
    }
    return 0;
}
