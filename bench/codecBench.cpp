// Throughput of the block coders beside the plain per-sample loops they replace, on a
// speech-like signal and on full-scale noise. Reports samples per second.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "codec/adpcm.h"
#include "support/reference.h"

namespace {

constexpr std::size_t kSamples = 1 << 20;

enum Signal { kSpeechLike = 0, kFullScaleNoise = 1 };

const std::vector<int16_t>& signal(int which) {
    static const std::vector<int16_t> signals[2] = {
        [] {
            // Tones under a syllable-rate envelope, plus noise.
            std::vector<int16_t> s(kSamples);
            std::mt19937 rng(1);
            std::normal_distribution<double> noise(0, 300);
            for (std::size_t i = 0; i < s.size(); ++i) {
                const double t = static_cast<double>(i) / 16000;
                const double envelope = 0.5 + 0.5 * std::sin(2 * M_PI * 4 * t);
                const double v = envelope * (6000 * std::sin(2 * M_PI * 220 * t) +
                                             3000 * std::sin(2 * M_PI * 1330 * t)) +
                                 noise(rng);
                s[i] = static_cast<int16_t>(std::lround(std::clamp(v, -32768.0, 32767.0)));
            }
            return s;
        }(),
        [] {
            std::vector<int16_t> s(kSamples);
            std::mt19937 rng(2);
            std::uniform_int_distribution<int> full(-32768, 32767);
            for (int16_t& v : s) v = static_cast<int16_t>(full(rng));
            return s;
        }(),
    };
    return signals[which];
}

const char* signalName(int which) {
    return which == kSpeechLike ? "speech" : "noise";
}

void label(benchmark::State& state, uint8_t variant, int which) {
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kSamples);
    state.SetLabel(std::string(variant == kVariant4Bit ? "4-bit " : "2-bit ") + signalName(which));
}

void BM_Encode(benchmark::State& state) {
    const auto variant = static_cast<uint8_t>(state.range(0));
    const std::vector<int16_t>& s = signal(static_cast<int>(state.range(1)));
    std::vector<uint8_t> out(kSamples / 2 + 1);
    for (auto _ : state) {
        tarquel_enc(kModeReset, 0, nullptr, 0, nullptr);
        benchmark::DoNotOptimize(tarquel_enc(kModeCode, variant, s.data(), kSamples, out.data()));
        benchmark::ClobberMemory();
    }
    label(state, variant, static_cast<int>(state.range(1)));
}

void BM_EncodeReference(benchmark::State& state) {
    const auto variant = static_cast<uint8_t>(state.range(0));
    const std::vector<int16_t>& s = signal(static_cast<int>(state.range(1)));
    std::vector<uint8_t> out(kSamples / 2 + 1);
    for (auto _ : state) {
        ReferenceEncoder ref{};
        benchmark::DoNotOptimize(referenceEncode(&ref, variant, s.data(), kSamples, out.data()));
        benchmark::ClobberMemory();
    }
    label(state, variant, static_cast<int>(state.range(1)));
}

std::vector<uint8_t> encoded(uint8_t variant, int which) {
    const std::vector<int16_t>& s = signal(which);
    std::vector<uint8_t> out(kSamples / 2 + 1);
    tarquel_enc(kModeReset, 0, nullptr, 0, nullptr);
    out.resize(
        static_cast<std::size_t>(tarquel_enc(kModeCode, variant, s.data(), kSamples, out.data())));
    return out;
}

void BM_Decode(benchmark::State& state) {
    const auto variant = static_cast<uint8_t>(state.range(0));
    const std::vector<uint8_t> bytes = encoded(variant, static_cast<int>(state.range(1)));
    std::vector<int16_t> out(kSamples);
    for (auto _ : state) {
        tarquel_dec(kModeReset, 0, nullptr, 0, nullptr);
        benchmark::DoNotOptimize(tarquel_dec(kModeCode, variant, bytes.data(),
                                             static_cast<uint32_t>(bytes.size()), out.data()));
        benchmark::ClobberMemory();
    }
    label(state, variant, static_cast<int>(state.range(1)));
}

// The plain loop: unpack each code and call dec.
void BM_DecodeReference(benchmark::State& state) {
    const auto variant = static_cast<uint8_t>(state.range(0));
    const std::vector<uint8_t> bytes = encoded(variant, static_cast<int>(state.range(1)));
    std::vector<int16_t> out(kSamples);
    for (auto _ : state) {
        AdpcmParam p{};
        int16_t* o = out.data();
        for (const uint8_t byte : bytes) {
            for (int k = count[variant] - 1; k >= 0; --k) {
                p.code = static_cast<int8_t>((byte >> (k * length[variant])) & anddata[variant]);
                dec(variant, &p);
                *o++ = static_cast<int16_t>(p.pcm);
            }
        }
        benchmark::ClobberMemory();
    }
    label(state, variant, static_cast<int>(state.range(1)));
}

void arguments(benchmark::internal::Benchmark* b) {
    for (const int variant : {kVariant4Bit, kVariant2Bit}) {
        for (const int which : {kSpeechLike, kFullScaleNoise}) b->Args({variant, which});
    }
}

BENCHMARK(BM_Encode)->Apply(arguments);
BENCHMARK(BM_EncodeReference)->Apply(arguments);
BENCHMARK(BM_Decode)->Apply(arguments);
BENCHMARK(BM_DecodeReference)->Apply(arguments);

}  // namespace

BENCHMARK_MAIN();
