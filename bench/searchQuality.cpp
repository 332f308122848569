// Quality report of the search encoder on a speech corpus: per tune, code width and level,
// the mean SNR, segmental SNR, weighted SNR and frequency-weighted segmental SNR of what
// the device plays (gains over level 0), the single-core speed, and the worst recording:
// how much further from its source, by the tune's own objective, than level 0 left it,
// over the measured corpus and the others given. The rows are the README's levels tables.
//   search_quality [corpus folder [folders for the worst case...]]
//   (default: the recorded speech in the source tree; the synthetic for the worst case)
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "corpus.h"

int main(int argc, char** argv) {
    const std::filesystem::path folder = argc > 1 ? argv[1] : KESTRUNE_CORPUS "/recorded";
    const std::vector<Recording> corpus = loadCorpus(folder);
    if (corpus.empty()) {
        std::fprintf(stderr, "search_quality: %s: no corpus of mono 16-bit WAVE files\n",
                     folder.c_str());
        return 1;
    }
    std::vector<Recording> all;
    for (int i = 2; i < argc; ++i) {
        const std::vector<Recording> more = loadCorpus(argv[i]);
        all.insert(all.end(), more.begin(), more.end());
    }
    if (argc <= 1) all = loadCorpus(KESTRUNE_CORPUS "/synthetic");
    const std::size_t others = all.size();
    all.insert(all.end(), corpus.begin(), corpus.end());
    std::size_t total = 0;
    for (const Recording& r : corpus) total += r.samples.size();
    std::printf("%zu recordings, %zu samples; worst case over %zu\n", corpus.size(), total,
                all.size());
    for (const SearchTune tune : {SearchTune::kPerceptual, SearchTune::kSnr}) {
        std::printf(
            "\n--tune %s\n| Level | Width | Paths | SNR | segSNR | wSNR | fwSegSNR | "
            "M samples/s | Worst vs 0 |\n",
            tune == SearchTune::kSnr ? "snr" : "perceptual");
        for (int level = 0; level < kSearchLevels; ++level) {
            for (const uint8_t variant : {kVariant4Bit, kVariant2Bit}) {
                double seconds = 0, worst = -INFINITY;
                Score mean;
                for (std::size_t i = 0; i < all.size(); ++i) {
                    const Recording& r = all[i];
                    const Score base = measureLevel(r, variant, 0, tune);
                    const Score s =
                        measureLevel(r, variant, level, tune, i < others ? nullptr : &seconds);
                    if (base.objective > 0) {
                        worst = std::max(worst, 10 * std::log10(s.objective / base.objective));
                    }
                    if (i < others) continue;
                    const auto n = static_cast<double>(corpus.size());
                    const Score gain = level == 0 ? s
                                                  : Score{s.snr - base.snr, s.segSnr - base.segSnr,
                                                          s.weightedSnr - base.weightedSnr,
                                                          s.fwSegSnr - base.fwSegSnr, 0};
                    mean.snr += gain.snr / n;
                    mean.segSnr += gain.segSnr / n;
                    mean.weightedSnr += gain.weightedSnr / n;
                    mean.fwSegSnr += gain.fwSegSnr / n;
                }
                const char* sign = level == 0 ? "" : "+";
                std::printf("| %d | %d | %d | %s%.2f | %s%.2f | %s%.2f | %s%.2f | %.2f | %+.2f |\n",
                            level, length[variant], searchLevel(variant, level).beam, sign,
                            mean.snr, sign, mean.segSnr, sign, mean.weightedSnr, sign,
                            mean.fwSegSnr, static_cast<double>(total) / seconds / 1e6, worst);
            }
        }
    }
    return 0;
}
