// The search encoder against the reference quantiser on hostile and spoken signals, at
// every level and both code widths: the file plays exactly as the search predicted, it
// never plays worse than level 0's while it keeps level 0's path, level 0 is tarquel_enc
// byte for byte, and the bytes do not depend on how the samples were split into calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <future>
#include <random>
#include <regex>

#include "codec/adpcm.h"
#include "codec/quality.h"
#include "codec/search.h"
#include "codec/searchLookahead.h"
#include "codec/stepStates.h"
#include "corpus.h"
#include "support/testSupport.h"

namespace {

using Signal = Samples;

// Hostile signals, and speech; lengths are not all whole bytes, so that the end-of-stream
// rule is exercised too.
std::vector<std::pair<std::string, Signal>> signals() {
    const Bytes prompt = readFile(KESTRUNE_EXAMPLE);
    Signal speech(std::min<std::size_t>((prompt.size() - 44) / 2, 30001));
    std::memcpy(speech.data(), prompt.data() + 44, speech.size() * 2);
    std::vector<std::pair<std::string, Signal>> all = {{"speech", speech}};
    for (uint32_t seed = 1; seed <= 12; ++seed) {
        all.emplace_back("hostile " + std::to_string(seed), hostileSignal(2999 + seed, seed));
    }
    return all;
}

struct Encoded {
    Bytes bytes;
    uint64_t predicted;
    bool keptReference;
};

// Encodes in pieces of the given sizes (cycled), then finishes.
Encoded encode(const Signal& s, uint8_t variant, int level, std::vector<std::size_t> pieces,
               SearchTune tune = SearchTune::kSnr, int32_t ceiling = kNoCeiling) {
    SearchEncoder encoder(variant, level, tune, 8000, ceiling);
    Encoded e{{}, 0, false};
    for (std::size_t at = 0, p = 0; at < s.size(); ++p) {
        const std::size_t n = std::min(pieces[p % pieces.size()], s.size() - at);
        encoder.encode(std::span(s).subspan(at, n), e.bytes);
        at += n;
    }
    encoder.finish(e.bytes);
    e.predicted = encoder.squaredError();
    e.keptReference = encoder.keptReference();
    return e;
}

// What the decoder plays of the bytes, against the samples it stands for: the squared
// error, or weighted as the perceptual search weighs it; and the price of the samples
// played past the ceiling.
uint64_t playedError(const Signal& s, uint8_t variant, const Bytes& bytes,
                     SearchTune tune = SearchTune::kSnr, int32_t ceiling = kNoCeiling) {
    DecoderStream decoder{};
    std::vector<int16_t> played(bytes.size() * count[variant]);
    decodeStream(&decoder, variant, bytes.data(), static_cast<uint32_t>(bytes.size()),
                 played.data());
    uint64_t error = 0;
    for (const int16_t v : played) error += std::abs(int{v}) > ceiling ? kPastCeiling : 0;
    if (tune == SearchTune::kPerceptual) {
        WeightedMeter meter(8000);
        meter.add(s, played);
        meter.finish();
        return error + meter.squaredError();
    }
    for (std::size_t i = 0; i < played.size(); ++i) {
        const int64_t d = int64_t{s[i]} - played[i];
        error += static_cast<uint64_t>(d * d);
    }
    return error;
}

class SearchLevels : public ::testing::TestWithParam<std::tuple<uint8_t, int, SearchTune>> {};

// Weighted, the signals are cut to whole bytes, so that the meter sees what the search saw.
TEST_P(SearchLevels, PlaysAsPredictedAndNeverWorseThanTheReference) {
    const auto [variant, level, tune] = GetParam();
    for (auto [name, s] : signals()) {
        SCOPED_TRACE(name);
        if (tune == SearchTune::kPerceptual) s.resize(s.size() - s.size() % count[variant]);
        const Encoded base = encode(s, variant, 0, {s.size()});
        const Encoded e = encode(s, variant, level, {s.size()}, tune);
        ASSERT_EQ(e.bytes.size(), s.size() / count[variant]);
        const uint64_t error = playedError(s, variant, e.bytes, tune);
        EXPECT_EQ(error, e.predicted) << "the decoder must play what the search predicted";
        // Never worse than level 0 on speech, nor while level 0's path is kept; a hostile
        // signal can lead the search off it and lose, by at most 2 dB in every case found.
        const double reference = static_cast<double>(playedError(s, variant, base.bytes, tune));
        const double slack = e.keptReference || name == "speech" ? 1 : 1.585;
        EXPECT_LE(static_cast<double>(error), reference * slack);
        // Uneven calls, single samples among them, give the same bytes.
        EXPECT_EQ(encode(s, variant, level, {1, 3, 1000, 2, 777}, tune).bytes, e.bytes);
        // Under a ceiling the samples keep to and level 0 passes, no sample is played past it.
        constexpr int32_t kCeiling = 9000;
        for (int16_t& v : s) v = static_cast<int16_t>(std::clamp<int>(v, -kCeiling, kCeiling));
        const Encoded held = encode(s, variant, level, {s.size()}, tune, kCeiling);
        const uint64_t heldError = playedError(s, variant, held.bytes, tune, kCeiling);
        EXPECT_EQ(heldError, held.predicted);
        EXPECT_LT(heldError, kPastCeiling) << "the playback passes the ceiling";
        EXPECT_GE(playedError(s, variant, encode(s, variant, 0, {s.size()}).bytes, tune, kCeiling),
                  kPastCeiling);
        EXPECT_EQ(encode(s, variant, level, {1, 3, 1000, 2, 777}, tune, kCeiling).bytes,
                  held.bytes);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Levels, SearchLevels,
    ::testing::Combine(::testing::Values(kVariant4Bit, kVariant2Bit),
                       ::testing::Range(1, kSearchLevels),
                       ::testing::Values(SearchTune::kSnr, SearchTune::kPerceptual)),
    [](const auto& info) {
        const SearchTune tune = std::get<2>(info.param);
        return std::string(std::get<0>(info.param) == kVariant4Bit ? "FourBit" : "TwoBit") +
               "Level" + std::to_string(std::get<1>(info.param)) +
               (tune == SearchTune::kSnr ? "Snr" : "Perceptual");
    });

TEST(SearchLevelZero, IsTheReferenceQuantiserByteForByte) {
    for (const uint8_t variant : {kVariant4Bit, kVariant2Bit}) {
        for (const auto& [name, s] : signals()) {
            SCOPED_TRACE(name);
            Bytes reference(s.size());
            tarquel_enc(kModeReset, 0, nullptr, 0, nullptr);
            reference.resize(static_cast<std::size_t>(tarquel_enc(
                kModeCode, variant, s.data(), static_cast<uint32_t>(s.size()), reference.data())));
            EXPECT_EQ(encode(s, variant, 0, {5, 1, 4096}).bytes, reference);
        }
    }
}

// Trying every code, pruning no path and merging only equal states makes the search
// exhaustive: the byte it writes plays with the least error of all 256, however the codes
// after it, which are not written, would have played.
TEST(SearchExhaustive, WritesTheBestByteWhateverFollows) {
    const SearchLevel everyPath{4000, 2, 16, -16};
    std::mt19937 random(1);
    for (int trial = 0; trial < 100; ++trial) {
        Signal s(count[kVariant2Bit] + 1);
        for (int16_t& v : s) v = static_cast<int16_t>(random());
        SearchEncoder encoder(kVariant2Bit, everyPath);
        Bytes written;
        encoder.encode(s, written);
        encoder.finish(written);
        ASSERT_EQ(written.size(), 1u);
        uint64_t best = UINT64_MAX;
        for (int byte = 0; byte < 256; ++byte) {
            best = std::min(best, playedError(s, kVariant2Bit, {static_cast<uint8_t>(byte)}));
        }
        EXPECT_EQ(playedError(s, kVariant2Bit, written), best) << "trial " << trial;
    }
}

// Every way to play `depth` samples from a state, by the decoder's own step: each code
// tried but at the last sample, which takes its nearest, and the floor from reach its state
// leaves under the `tail` samples after added. The least is what the lookahead's branch and
// bound finds, below its bound.
template <uint8_t Variant>
uint64_t everyWay(StreamState<Variant> from, const int16_t* future, int depth, int tail) {
    uint64_t best = UINT64_MAX, leastError = UINT64_MAX;
    for (int code = 0; code < 1 << length[Variant]; ++code) {
        StreamState<Variant> s = from;
        const int64_t e = future[0] - decodeCode<Variant>(s, static_cast<uint8_t>(code));
        const auto here = static_cast<uint64_t>(e * e);
        if (depth > 1) {
            best = std::min(best, here + everyWay(s, future + 1, depth - 1, tail));
        } else if (here < leastError) {
            leastError = here;
            const auto pointer = static_cast<uint8_t>(s.at->pointer);
            best =
                here + search_detail::beyondReach<Variant>(s.estimate, pointer, future + 1, tail);
        }
    }
    return best;
}

template <uint8_t Variant>
void lookaheadFindsTheLeast(int maxDepth) {
    std::mt19937 random(7);
    for (int trial = 0; trial < 400; ++trial) {
        const int depth = 1 + trial % maxDepth, tail = trial % 13;
        const auto pointer = static_cast<int16_t>(random() % kStepRows);
        const auto estimate = static_cast<int32_t>(random() % 60001) - 30000;
        // A walk from the estimate, by swings from a few to thousands.
        Signal future(static_cast<std::size_t>(depth + tail));
        const int swing = 1 << (2 + trial % 12);
        int32_t at = estimate;
        for (int16_t& v : future) {
            at = std::clamp<int32_t>(at + static_cast<int32_t>(random() % (2 * swing + 1)) - swing,
                                     -32768, 32767);
            v = static_cast<int16_t>(at);
        }
        const uint64_t least =
            everyWay(streamStart<Variant>(estimate, pointer), future.data(), depth, tail);
        const uint64_t bound = random() % 2 ? UINT64_MAX >> 20 : random() % (2 * least + 2);
        int budget = 1 << 30;
        const uint64_t found = search_detail::lookahead<Variant>(
            estimate, static_cast<uint8_t>(pointer), future.data(), depth, tail, bound, budget);
        if (least < bound) {
            EXPECT_EQ(found, least) << "trial " << trial;
        } else {
            EXPECT_GE(found, bound) << "trial " << trial;
        }
    }
}

TEST(SearchLookahead, FindsTheLeastErrorOfEveryWayAhead) {
    lookaheadFindsTheLeast<kVariant2Bit>(6);
    lookaheadFindsTheLeast<kVariant4Bit>(3);
}

}  // namespace

namespace {

// The public headers', the README's and the manual's words on the levels name the last and
// the default level the codec counts: each number follows its words, after the first of
// them when they lead.
TEST(SearchLevels, AreWhatThePublicHeadersState) {
    const struct {
        const char *file, *lead, *words;
        int says;
    } rows[] = {
        {"include/kestrune/kestrune.h", "level outside", "0 to ", kSearchLevels - 1},
        {"include/kestrune/kestrune.h", "level  0 (", "byte for byte) to ", kSearchLevels - 1},
        {"include/kestrune/kestrune.h", "level  0 (", "default is ", kDefaultSearchLevel},
        {"include/kestrune/kestrune.h", "int level;", "0 to ", kSearchLevels - 1},
        {"include/kestrune/kestrune.h", "int level;", "default ", kDefaultSearchLevel},
        {"include/kestrune/kestrune.hpp", "kLevels =", "levels 0 ... ", kSearchLevels - 1},
        {"README.md", "--quality 0..", "0..", kSearchLevels - 1},
        {"README.md", "--quality 0..", "default ", kDefaultSearchLevel},
        {"man/kestrune-adpcm.1.in", "Search level, 0", "0 to ", kSearchLevels - 1},
        {"man/kestrune-adpcm.1.in", "Search level, 0", "default ", kDefaultSearchLevel}};
    for (const auto& r : rows) {
        const Bytes b = readFile(std::string(KESTRUNE_TESTS "/../") + r.file);
        const char* text = reinterpret_cast<const char*>(b.data());
        const char* lead = std::search(text, text + b.size(), r.lead, r.lead + std::strlen(r.lead));
        const char* at =
            std::search(lead, text + b.size(), r.words, r.words + std::strlen(r.words));
        ASSERT_LT(at, text + b.size()) << r.file << ": " << r.words;
        EXPECT_EQ(std::atoi(at + std::strlen(r.words)), r.says) << r.file << ": " << r.words;
    }
}

// The README's levels tables, row for row: every level's beam; level 0, the default and
// the top level measured on the recorded corpus as the table says, for both tunes
// (figures rounded to 0.01 dB), each leaving no recording of either corpus further from
// its source by the tune's own objective than level 0 does; and every level held to the
// frontier's shape: each gains more by its tune's measure, and runs slower, than the one
// below.
// bench/search_quality measures every row.
TEST(SearchLevels, AreWhatTheReadmeStates) {
#ifndef NDEBUG
    GTEST_SKIP() << "measured on an optimised build only";
#endif
    const std::vector<Recording> corpus = loadCorpus(KESTRUNE_CORPUS "/recorded");
    std::vector<Recording> all = loadCorpus(KESTRUNE_CORPUS "/synthetic");
    ASSERT_FALSE(corpus.empty() || all.empty());
    all.insert(all.end(), corpus.begin(), corpus.end());
    const Bytes readme = readFile(KESTRUNE_README);
    const std::string text(readme.begin(), readme.end());
    const std::regex row(R"(\| (\d+) \| ([42]) \| (\d+) \| \+?([\d.]+) \| \+?([\d.]+) \| )"
                         R"(\+?([\d.]+) \| \+?([\d.]+) \| ([\d.]+) \| ([-+][\d.]+) \|)");
    const std::size_t snrTable = text.find("#### `--tune snr`");
    ASSERT_NE(text.find("#### `--tune perceptual`"), std::string::npos);
    ASSERT_NE(snrTable, std::string::npos);
    struct Row {
        int level;
        uint8_t variant;
        SearchTune tune;
        std::smatch m;
        std::future<std::pair<Score, double>> measured;  // mean gains, worst recording
    };
    std::vector<Row> rows;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), row);
         it != std::sregex_iterator(); ++it) {
        const bool snr = static_cast<std::size_t>(it->position()) > snrTable;
        rows.push_back({std::stoi((*it)[1]),
                        (*it)[2] == "4" ? kVariant4Bit : kVariant2Bit,
                        snr ? SearchTune::kSnr : SearchTune::kPerceptual,
                        *it,
                        {}});
    }
    ASSERT_EQ(rows.size(), std::size_t{4} * kSearchLevels);
    for (Row& r : rows) {
        const bool measured =
            r.level == 0 || r.level == kDefaultSearchLevel || r.level == kSearchLevels - 1;
        if (!measured) continue;
        r.measured = std::async(std::launch::async, [&all, &r, n = corpus.size()] {
            Score mean;
            double worst = -INFINITY;
            for (std::size_t i = 0; i < all.size(); ++i) {
                const Score base = measureLevel(all[i], r.variant, 0, r.tune);
                const Score s =
                    r.level == 0 ? base : measureLevel(all[i], r.variant, r.level, r.tune);
                worst = std::max(worst, 10 * std::log10(s.objective / base.objective));
                if (i < all.size() - n) continue;  // synthetic: the worst case alone
                const double z = r.level == 0 ? 0 : 1, share = 1 / static_cast<double>(n);
                mean.snr += (s.snr - z * base.snr) * share;
                mean.segSnr += (s.segSnr - z * base.segSnr) * share;
                mean.weightedSnr += (s.weightedSnr - z * base.weightedSnr) * share;
                mean.fwSegSnr += (s.fwSegSnr - z * base.fwSegSnr) * share;
            }
            return std::pair{mean, worst};
        });
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        Row& r = rows[i];
        SCOPED_TRACE(r.m.str());
        EXPECT_EQ(r.level, static_cast<int>(i / 2 % kSearchLevels));
        EXPECT_EQ(searchLevel(r.variant, r.level).beam, std::stoi(r.m[3]));
        if (r.level > 1) {  // the row of the level below, same width
            const std::smatch& below = rows[i - 2].m;
            const int gain = r.tune == SearchTune::kSnr ? 4 : 6;
            EXPECT_GT(std::stod(r.m[gain]), std::stod(below[gain]));
            EXPECT_LT(std::stod(r.m[8]), std::stod(below[8]));
        }
        if (!r.measured.valid()) continue;
        const auto [s, worst] = r.measured.get();
        EXPECT_NEAR(s.snr, std::stod(r.m[4]), 0.006);
        EXPECT_NEAR(s.segSnr, std::stod(r.m[5]), 0.006);
        EXPECT_NEAR(s.weightedSnr, std::stod(r.m[6]), 0.006);
        EXPECT_NEAR(s.fwSegSnr, std::stod(r.m[7]), 0.006);
        EXPECT_LE(worst, 0.0);
    }
}

}  // namespace
