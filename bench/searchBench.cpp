// Speed of every search level, in samples per second on one core, over the speech
// corpus, beside the reference quantiser's block coder; and over signals that defeat the
// lookahead's pruning, where the node cap bounds it.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>

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

// One second at 16 kHz of a hostile signal: a square wave at full scale (7 samples a half
// period), white noise at full scale, the rails in turn every sample, or a chirp from 50 Hz
// to 4 kHz driven 12 dB past full scale.
std::vector<int16_t> hostile(int kind) {
    std::vector<int16_t> s(16000);
    uint32_t seed = 1;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double t = static_cast<double>(i) / 16000;
        seed = seed * 1664525u + 1013904223u;
        const double v[] = {
            (i / 7) % 2 ? 32767.0 : -32768.0, static_cast<double>(static_cast<int16_t>(seed >> 16)),
            i % 2 ? 32767.0 : -32768.0, 4 * 32767 * std::sin(6.2832 * (50 + 1975 * t) * t)};
        s[i] = static_cast<int16_t>(std::clamp(v[kind], -32768.0, 32767.0));
    }
    return s;
}

void BM_Hostile(benchmark::State& state) {
    const auto variant = static_cast<uint8_t>(state.range(0));
    const int level = static_cast<int>(state.range(1));
    const auto tune = static_cast<SearchTune>(state.range(2));
    const std::vector<int16_t> signal = hostile(static_cast<int>(state.range(3)));
    std::vector<uint8_t> out;
    for (auto _ : state) {
        out.clear();
        SearchEncoder encoder(variant, level, tune, 16000);
        encoder.encode(signal, out);
        encoder.finish(out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * signal.size()));
    const char* names[] = {"square", "noise", "rails", "chirp"};
    state.SetLabel(std::string(variant == kVariant4Bit ? "4-bit" : "2-bit") + " level " +
                   std::to_string(level) + (tune == SearchTune::kSnr ? " snr " : " perceptual ") +
                   names[state.range(3)]);
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
BENCHMARK(BM_Hostile)
    ->ArgsProduct({{kVariant4Bit, kVariant2Bit},
                   benchmark::CreateDenseRange(1, kSearchLevels - 1, 1),
                   {static_cast<int>(SearchTune::kPerceptual), static_cast<int>(SearchTune::kSnr)},
                   {0, 1, 2, 3}})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
