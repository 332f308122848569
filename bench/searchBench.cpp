// Speed of every search level, in samples per second on one core, over the speech
// corpus, beside the reference quantiser's block coder.
#include <benchmark/benchmark.h>

#include "codec/adpcm.h"
#include "codec/search.h"
#include "corpus.h"

namespace {

const std::vector<Recording>& corpus() {
    static const std::vector<Recording> c = loadCorpus(KESTRUNE_CORPUS "/recorded");
    return c;
}

std::size_t corpusSamples() {
    std::size_t n = 0;
    for (const Recording& r : corpus()) n += r.samples.size();
    return n;
}

void BM_Search(benchmark::State& state) {
    const auto variant = static_cast<uint8_t>(state.range(0));
    const int level = static_cast<int>(state.range(1));
    const auto tune = static_cast<SearchTune>(state.range(2));
    std::vector<uint8_t> out;
    for (auto _ : state) {
        for (const Recording& r : corpus()) {
            out.clear();
            SearchEncoder encoder(variant, level, tune, r.rate);
            encoder.encode(r.samples, out);
            encoder.finish(out);
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * corpusSamples()));
    state.SetLabel(std::string(variant == kVariant4Bit ? "4-bit" : "2-bit") + " level " +
                   std::to_string(level) + (tune == SearchTune::kSnr ? " snr" : " perceptual"));
}

void BM_Reference(benchmark::State& state) {
    const auto variant = static_cast<uint8_t>(state.range(0));
    std::vector<uint8_t> out;
    for (auto _ : state) {
        for (const Recording& r : corpus()) {
            out.resize(r.samples.size() / 2 + 1);
            EncoderStream stream{};
            benchmark::DoNotOptimize(encodeStream(&stream, variant, r.samples.data(),
                                                  static_cast<uint32_t>(r.samples.size()),
                                                  out.data()));
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * corpusSamples()));
    state.SetLabel(variant == kVariant4Bit ? "4-bit tarquel block coder"
                                           : "2-bit tarquel block coder");
}

void levels(benchmark::internal::Benchmark* b) {
    for (const int variant : {kVariant4Bit, kVariant2Bit}) {
        for (int level = 0; level < kSearchLevels; ++level) {
            for (const SearchTune tune : {SearchTune::kPerceptual, SearchTune::kSnr}) {
                b->Args({variant, level, static_cast<int>(tune)});
            }
        }
    }
}

BENCHMARK(BM_Reference)->Arg(kVariant4Bit)->Arg(kVariant2Bit);
BENCHMARK(BM_Search)->Apply(levels)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
