// The table-driven block coders against the plain per-sample loop: the bytes read as
// samples (and the first byte choosing how the stream is split into calls) must encode
// to the same bytes, and decode to the encoder's own reconstruction. The search encoder,
// at a level the first byte also chooses: its bytes decode to the error it predicted, no
// more than the reference quantiser's, and do not depend on the split; under a ceiling too.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/adpcm.h"
#include "codec/search.h"
#include "support/reference.h"

namespace {

// What the search minimises, for the bytes it wrote: the plain or weighted squared error,
// and the price of each sample played past the ceiling.
uint64_t objective(std::span<const int16_t> samples, uint8_t variant,
                   const std::vector<uint8_t>& bytes, SearchTune tune, int32_t ceiling) {
    std::vector<int16_t> played(bytes.size() * count[variant]);
    DecoderStream decoder{};
    decodeStream(&decoder, variant, bytes.data(), static_cast<uint32_t>(bytes.size()),
                 played.data());
    uint64_t error = 0;
    for (const int16_t v : played) error += std::abs(int{v}) > ceiling ? kPastCeiling : 0;
    if (tune == SearchTune::kPerceptual) {
        WeightedMeter meter(8000);
        meter.add(samples, played);
        meter.finish();
        return error + meter.squaredError();
    }
    for (size_t i = 0; i < played.size(); ++i) {
        const int64_t d = int64_t{samples[i]} - played[i];
        error += static_cast<uint64_t>(d * d);
    }
    return error;
}

}  // namespace

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
    const int level = 1 + split % (kSearchLevels - 1);
    for (const uint8_t variant : {kVariant4Bit, kVariant2Bit}) {
        std::vector<uint8_t> whole, parts, reference;
        // Weighted: whole bytes only, so that the meter sees the samples the search saw.
        const SearchTune tune = (split / 9) % 2 == 1 ? SearchTune::kPerceptual : SearchTune::kSnr;
        const auto input = std::span(samples).first(
            tune == SearchTune::kSnr ? samples.size()
                                     : samples.size() - samples.size() % count[variant]);
        const std::size_t cut = std::min<std::size_t>(first, input.size());
        // Every third input under a ceiling between a quarter and all of full scale.
        const int32_t ceiling =
            split % 3 == 0 ? 8192 + static_cast<int32_t>(split) * 96 : kNoCeiling;
        SearchEncoder one(variant, level, tune, 8000, ceiling),
            two(variant, level, tune, 8000, ceiling), zero(variant, 0);
        one.encode(input, whole);
        one.finish(whole);
        two.encode(input.first(cut), parts);
        two.encode(input.subspan(cut), parts);
        two.finish(parts);
        zero.encode(input, reference);
        if (parts != whole || whole.size() != reference.size()) std::abort();
        const uint64_t error = objective(input, variant, whole, tune, ceiling);
        if (error != one.squaredError()) std::abort();
        if (one.keptReference() && error > objective(input, variant, reference, tune, ceiling)) {
            std::abort();
        }
    }
    return 0;
}
