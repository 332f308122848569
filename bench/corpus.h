// The speech corpus the search encoder is measured on (bench/corpus), loaded whole.
#pragma once

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "codec/adpcm.h"
#include "codec/quality.h"
#include "codec/search.h"
#include "codec/weighting.h"
#include "fwSegSnr.h"
#include "wave/waveFile.h"

struct Recording {
    std::string name;
    uint32_t rate;
    std::vector<int16_t> samples;
};

// Every mono 16-bit WAVE file in the folder, by name; empty if one is anything else.
inline std::vector<Recording> loadCorpus(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> paths;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
        if (e.path().extension() == ".wav") paths.push_back(e.path());
    }
    std::sort(paths.begin(), paths.end());
    std::vector<Recording> corpus;
    for (const auto& path : paths) {
        FILE* fp = std::fopen(path.c_str(), "rb");
        WaveFormat format{};
        uint32_t bytes = 0;
        Recording r{path.stem(), 0, {}};
        const bool ok = fp != nullptr && waveFileOpen(&format, fp, &bytes) == kWaveOk &&
                        format.channels == 1 && format.bitsPerSample == 16;
        if (ok) {
            r.rate = format.sampleRate;
            r.samples.resize(bytes / 2);
            r.samples.resize(std::fread(r.samples.data(), 2, r.samples.size(), fp));
        }
        if (fp != nullptr) std::fclose(fp);
        if (!ok) return {};
        corpus.push_back(std::move(r));
    }
    return corpus;
}

struct Score {
    double snr = 0, segSnr = 0, weightedSnr = 0, fwSegSnr = 0;
    double objective = 0;  // what the tune minimises, summed over the recording
};

// The calling thread's processor time in seconds: the time it ran, not the time it waited
// for a core on a busy machine.
inline double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Encodes a recording at a level, decodes what was written and measures it against the
// source; the encoding's processor time is added to *seconds when given.
inline Score measureLevel(const Recording& r, uint8_t variant, int level, SearchTune tune,
                          double* seconds = nullptr) {
    const double start = threadSeconds();
    SearchEncoder encoder(variant, level, tune, r.rate);
    std::vector<uint8_t> bytes;
    encoder.encode(r.samples, bytes);
    encoder.finish(bytes);
    if (seconds != nullptr) {
        *seconds += threadSeconds() - start;
    }
    std::vector<int16_t> played(bytes.size() * count[variant]);
    DecoderStream decoder{};
    decodeStream(&decoder, variant, bytes.data(), static_cast<uint32_t>(bytes.size()),
                 played.data());
    QualityMeter meter(r.rate);
    meter.add(r.samples, played);
    WeightedMeter weighted(r.rate);
    weighted.add(r.samples, played);
    weighted.finish();
    double plain = 0;
    for (std::size_t i = 0; i < played.size(); ++i) {
        const double d = r.samples[i] - played[i];
        plain += d * d;
    }
    return {meter.snrDb(), meter.segSnrDb(), weighted.snrDb(),
            fwSegSnrDb(r.samples, played, r.rate),
            tune == SearchTune::kSnr ? plain : static_cast<double>(weighted.squaredError())};
}

// The mean score over the corpus at a level.
inline Score meanScore(const std::vector<Recording>& corpus, uint8_t variant, int level,
                       SearchTune tune, double* seconds = nullptr) {
    Score mean;
    const auto n = static_cast<double>(corpus.size());
    for (const Recording& r : corpus) {
        const Score s = measureLevel(r, variant, level, tune, seconds);
        mean.snr += s.snr / n;
        mean.segSnr += s.segSnr / n;
        mean.weightedSnr += s.weightedSnr / n;
        mean.fwSegSnr += s.fwSegSnr / n;
    }
    return mean;
}
