// The table-driven block coders against the plain per-sample loop: the bytes read as
// samples (and the first byte choosing how the stream is split into calls) must encode
// to the same bytes, and decode to the encoder's own reconstruction.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/adpcm.h"
#include "codec/reference.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t split = data[0];
    std::vector<int16_t> samples((size - 1) / 2);
    if (!samples.empty()) std::memcpy(samples.data(), data + 1, samples.size() * 2);
    const auto n = static_cast<uint32_t>(samples.size());
    const uint32_t first = split < n ? static_cast<uint32_t>(split) : n;

    for (const uint8_t variant : {kVariant4Bit, kVariant2Bit}) {
        std::vector<uint8_t> fast(n + 1), slow(n + 1);
        tarquel_enc(kModeReset, 0, nullptr, 0, nullptr);
        int32_t got = tarquel_enc(kModeCode, variant, samples.data(), first, fast.data());
        got +=
            tarquel_enc(kModeCode, variant, samples.data() + first, n - first, fast.data() + got);

        ReferenceEncoder ref{};
        const int32_t want = referenceEncode(&ref, variant, samples.data(), n, slow.data());
        if (got != want || std::memcmp(fast.data(), slow.data(), static_cast<size_t>(got)) != 0) {
            std::abort();
        }

        std::vector<int16_t> decoded(static_cast<size_t>(got) * count[variant]);
        tarquel_dec(kModeReset, 0, nullptr, 0, nullptr);
        tarquel_dec(kModeCode, variant, fast.data(), static_cast<uint32_t>(got), decoded.data());
        AdpcmParam p{};
        for (size_t i = 0; i < decoded.size(); ++i) {
            p.pcm = samples[i];
            enc(variant, &p);
            if (decoded[i] != p.pcm) std::abort();
        }
    }
    return 0;
}
