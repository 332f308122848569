// Search encoder: chooses the codes whose playback by the device's fixed decoder is
// closest to the samples (least total squared error), rather than quantising each
// sample on its own as enc does.
//
// It is a beam search over the decoder's states (estimate, pointer). Every sample, each
// surviving path is extended by the codes near the sample (and, at 4 bits, by the two
// extremes, which move the step fastest), paths that reach nearly the same state (the same
// pointer, estimates within a bucket about a step wide) are merged into the better one,
// and the best `beam` paths survive. A path is ranked by its error so far plus the least
// error with which the next `depth` samples can still be played from its state: a
// lookahead by branch and bound, with a cap on the nodes it visits; at some levels each
// way of playing them also pays the floor its last state leaves under the `tail` samples
// after them, which the codes cannot reach. A byte is committed once every path's oldest
// codes are `delay` samples old: the best-ranked path's, and the paths that disagree with
// it are dropped. Every state a path passes through is computed
// by the decoder's own step, so the file plays exactly as the search predicted.
//
// The reference quantiser's own path is kept among the survivors for as long as it
// agrees with what has been committed, so the search leaves it only for a path that was
// better at that point. Level 0 is the reference quantiser itself, byte for byte.
//
// The error is plain (tune kSnr) or perceptually weighted (kPerceptual, see weighting.h):
// then each path also carries the weighting filter's memory, and the codes are chosen for
// the least weighted error, frame by frame once the window around the frame has arrived.
// The lookahead judges the samples ahead by their plain error: aiming its first sample
// with the path's filter feedback changed the gains by a few hundredths of a dB either way.
//
// Under a ceiling, every sample the decoder would play past it adds kPastCeiling to a
// path's error, more than the errors of the samples a path may still lose, so the search
// takes such a path only when every path it holds passes the ceiling: the device plays
// what it is given and stays under the ceiling too. 4-bit levels that try the reference's
// code alone then try its neighbours too: the one toward the estimate plays no further out
// than the sample, and the one past it stays inside unless the step is as wide as the
// ceiling. Level 0 stays the reference quantiser and may pass the ceiling.
//
// One object per stream; no shared state, so streams may be encoded in parallel. The
// output depends only on the samples, the level and the tune, not on how the samples are
// split into calls, nor on the CPU.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "codec/adpcm.h"
#include "codec/searchLevels.h"
#include "codec/weighting.h"

// No ceiling: the largest magnitude the decoder plays.
inline constexpr int32_t kNoCeiling = 32768;
// What one sample played past the ceiling adds to a path's error.
inline constexpr uint64_t kPastCeiling = uint64_t{1} << 40;
inline constexpr int kDefaultSearchLevel = 5;

// What the search minimises: the perceptually weighted error, or the plain squared error.
enum class SearchTune : uint8_t { kPerceptual, kSnr };
inline constexpr SearchTune kDefaultSearchTune = SearchTune::kPerceptual;

// The levels' parameters for a code width.
const SearchLevel& searchLevel(uint8_t variant, int level);

class SearchEncoder {
public:
    // variant: kVariant4Bit or kVariant2Bit; level: 0 ... kSearchLevels - 1; rate: the
    // samples' rate, which the weighting follows (unused by kSnr); ceiling: the magnitude
    // the playback is held within, 0 ... kNoCeiling (unused by level 0).
    SearchEncoder(uint8_t variant, int level, SearchTune tune = SearchTune::kSnr,
                  uint32_t rate = 16000, int32_t ceiling = kNoCeiling);
    // The same with explicit parameters, for measuring others than the levels'.
    SearchEncoder(uint8_t variant, const SearchLevel& level, SearchTune tune = SearchTune::kSnr,
                  uint32_t rate = 16000, int32_t ceiling = kNoCeiling);

    // Encodes the samples and appends every byte that has been decided.
    void encode(std::span<const int16_t> samples, std::vector<uint8_t>& out);

    // Ends the stream: appends the remaining whole bytes of the best path. Codes that do
    // not fill a byte are not written. The encoder must not be used afterwards.
    void finish(std::vector<uint8_t>& out);

    // After finish, at levels above 0: the squared error (weighted, for kPerceptual),
    // summed over the samples whose codes were written, of what the decoder plays against
    // them, as the search predicted it; plus kPastCeiling for each sample played past the
    // ceiling.
    uint64_t squaredError() const { return settled_; }

    // After finish: whether the reference quantiser's own path was still among the
    // candidates when the written path was chosen. Then the error is never above level
    // 0's; otherwise the search left it for a path that was better at that point.
    bool keptReference() const { return keptReference_; }

private:
    template <uint8_t Variant>
    void encodeSearch(std::span<const int16_t> samples, std::vector<uint8_t>& out, bool end);
    template <uint8_t Variant, bool Weighted>
    void step(int32_t sample, const int16_t* future, std::size_t available);
    template <uint8_t Variant, bool Weighted>
    std::size_t extend(int32_t sample, std::size_t& referenceChild);
    template <uint8_t Variant>
    std::size_t merge(std::size_t n, std::size_t referenceChild);
    template <uint8_t Variant>
    void rankAhead(const int16_t* future, std::size_t available, std::size_t alive,
                   std::size_t referenceChild);
    template <uint8_t Variant, bool Weighted>
    void keep(int32_t sample, std::size_t alive, std::size_t referenceChild);
    template <int Group>
    void remember(int32_t sample, std::size_t kept);
    template <uint8_t Variant>
    void commit(std::vector<uint8_t>& out);
    template <uint8_t Variant>
    void finishSearch(std::vector<uint8_t>& out);

    uint8_t variant_;
    SearchLevel level_;
    int32_t ceiling_;
    EncoderStream greedy_{};        // level 0
    std::vector<int16_t> waiting_;  // plain: samples not yet searched, for the lookahead

    // Weighting (kPerceptual): the source's frames, and this sample's taps.
    std::optional<WeightingFrames> frames_;
    std::array<WeightingTaps, kMaxWeightingOrder> turned_;  // the frame's, at each position
    int position_ = 0;                                      // of the memories' ring

    // Surviving paths.
    std::size_t survivors_ = 1;
    int reference_ = 0;  // the survivor that is the reference quantiser's path, or -1
    std::vector<int32_t> estimate_;
    std::vector<uint8_t> pointer_;
    std::vector<uint64_t> cost_;           // squared error so far, less what all paths share
    std::vector<uint64_t> atByte_;         // cost at the last whole byte
    std::vector<uint64_t> history_;        // codes not yet committed, latest in the lowest bits
    std::vector<uint64_t> ahead_;          // the lookahead's error, with its tail's floor
    std::vector<WeightingMemory> memory_;  // the weighting filter's, when weighted
    int pending_ = 0;                      // how many
    uint64_t settled_ = 0;
    bool keptReference_ = true;  // cost taken out of every path, the chosen one's included
    int phase_ = 0;              // samples since the last whole byte

    // Candidates of one sample.
    std::vector<int32_t> candEstimate_;
    std::vector<uint8_t> candPointer_;
    std::vector<uint64_t> candKey_;  // cost << 16 | candidate number: a strict order
    std::vector<uint16_t> candParent_;
    std::vector<uint64_t> candAhead_;  // the lookahead's error
    std::vector<uint64_t> candRank_;   // cost + lookahead << 16 | candidate number
    std::vector<uint64_t> bestRanks_;  // the beam's best ranks so far, lowest first
    std::vector<int32_t> feedback_;    // each path's weighting feedback at this sample
    std::vector<uint8_t> candCode_;
    struct Paths {
        std::vector<int32_t> estimate;
        std::vector<uint8_t> pointer;
        std::vector<uint64_t> cost, atByte, history, ahead;
        std::vector<WeightingMemory> memory;
    } next_;                         // the survivors being built
    std::vector<uint32_t> unique_;   // the candidates left after merging
    std::vector<uint32_t> evicted_;  // those set aside by another state's
    std::vector<uint64_t> select_;

    // Merge table: open addressing, entries valid when their stamp is the current one.
    struct Slot {
        uint64_t tag;  // stamp << 32 | state key
        uint32_t candidate;
    };
    std::vector<Slot> table_;
    uint32_t stamp_ = 0;
    uint8_t tableShift_ = 0;  // a hash's top bits index the table
    std::array<uint8_t, kStepRows> bucketShift_{};
};
