// A whole conversion from memory to memory, with both methods and every combination of
// seekable and pipe-like input and output. All must agree, and a finished output must
// be a header whose length field counts the codes that follow it.
#include <cstdlib>

#include "adpFile.h"
#include "codec/adpcm.h"
#include "device/conversions.h"
#include "fuzzSupport.h"
#include "io/status.h"

using kestrune::detail::convertWaveToAdp;

namespace {

struct Outcome {
    int status;
    std::vector<uint8_t> file;
};

Outcome convert(const uint8_t* data, size_t size, uint8_t variant, bool seekIn, bool seekOut) {
    FuzzPipe pipe;
    FILE* from = fuzzInput(data, size, seekIn, &pipe);
    Outcome o{0, {}};
    // A seekable output in memory, with room for any output of this input.
    std::vector<uint8_t> room(size / 2 + 64);
    FILE* to = seekOut ? fmemopen(room.data(), room.size(), "w+b") : fuzzPipeSink(&o.file);
    o.status = convertWaveToAdp(from, to, seekOut, variant).status();
    if (seekOut) {
        std::fseek(to, 0, SEEK_END);
        const long end = std::ftell(to);
        std::fflush(to);
        o.file.assign(room.begin(), room.begin() + end);
    }
    std::fclose(to);
    std::fclose(from);
    return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (const uint8_t variant : {kVariant4Bit, kVariant2Bit}) {
        const Outcome first = convert(data, size, variant, true, true);
        for (const bool seekIn : {true, false}) {
            for (const bool seekOut : {true, false}) {
                const Outcome o = convert(data, size, variant, seekIn, seekOut);
                if (o.status != first.status) std::abort();
                if (o.status == kStatusFinished && o.file != first.file) std::abort();
            }
        }
        if (first.status == kStatusFinished) {
            uint16_t rate = 0;
            uint32_t length = 0;
            if (first.file.size() < kAdpHeaderSize) std::abort();
            if (readAdpHeader(first.file.data(), &rate, &length) != variant) std::abort();
            if (!rateAccepted(rate) || first.file.size() != kAdpHeaderSize + length) std::abort();
            if (length > size / 4) std::abort();  // at least two input bytes per code
        }
    }
    return 0;
}
