#include "codec/search.h"

#include <algorithm>
#include <bit>

#include "codec/stepStates.h"

namespace {

// Levels per code width, from the reference quantiser up. Each level was measured on the
// benchmark corpus to sound no worse than the one below it.
constexpr std::array<SearchLevel, kSearchLevels> kLevels4Bit = {{
    {0, 0, 0, 0},
    {2, 2, 6, 0},
    {3, 3, 8, 0},
    {4, 3, 8, 0},
    {6, 3, 8, 0},
    {8, 3, 8, 0},
    {12, 4, 8, 0},
    {16, 5, 10, 0},
    {32, 8, 10, 0},
    {64, 8, 12, 0},
}};
constexpr std::array<SearchLevel, kSearchLevels> kLevels2Bit = {{
    {0, 0, 0, 0},
    {2, 2, 8, -2},
    {3, 2, 8, -2},
    {4, 2, 8, -2},
    {6, 2, 12, -2},
    {8, 2, 12, -2},
    {12, 2, 16, -2},
    {16, 2, 16, -2},
    {32, 2, 16, -2},
    {64, 2, 16, -2},
}};

template <uint8_t Variant>
struct Codes {
    static constexpr int kWidth = length[Variant];
    static constexpr int kMagnitudes = 1 << (kWidth - 1);
    static constexpr int kCodes = 2 * kMagnitudes;
    static constexpr int kPerByte = count[Variant];
    static constexpr uint8_t kSign = sign_bit[Variant];

    // Codes in the order of the estimates they lead to, lowest first: the negative
    // magnitudes from the largest down, then the positive ones from the smallest up.
    static constexpr uint8_t codeAt(int rank) {
        return static_cast<uint8_t>(rank < kMagnitudes ? kSign | (kMagnitudes - 1 - rank)
                                                       : rank - kMagnitudes);
    }
    static constexpr int rankOf(uint8_t code) {
        const int magnitude = code & (kMagnitudes - 1);
        return (code & kSign) ? kMagnitudes - 1 - magnitude : kMagnitudes + magnitude;
    }
};

// For each pointer and magnitude: how far the estimate moves, and the next pointer.
template <uint8_t Variant>
struct Moves {
    std::array<std::array<int32_t, Codes<Variant>::kMagnitudes>, kStepRows> move;
    std::array<std::array<uint8_t, Codes<Variant>::kMagnitudes>, kStepRows> next;
};

template <uint8_t Variant>
constexpr Moves<Variant> makeMoves() {
    Moves<Variant> t{};
    for (std::size_t p = 0; p < kStepRows; ++p) {
        for (int m = 0; m < Codes<Variant>::kMagnitudes; ++m) {
            const auto magnitude = static_cast<uint8_t>(m);
            t.move[p][m] = reconstructionOffset(Variant, deltrom[p][Variant], magnitude);
            t.next[p][m] =
                static_cast<uint8_t>(nextPointer(Variant, static_cast<int16_t>(p), magnitude));
        }
    }
    return t;
}

template <uint8_t Variant>
inline constexpr Moves<Variant> kMoves = makeMoves<Variant>();

// Costs live beside a 16-bit candidate number in one 64-bit sort key; a path this far
// behind the best is lost anyway.
constexpr uint64_t kCostCap = (uint64_t{1} << 47) - 1;

}  // namespace

const SearchLevel& searchLevel(uint8_t variant, int level) {
    const int at = std::clamp(level, 0, kSearchLevels - 1);
    return variant == kVariant2Bit ? kLevels2Bit[at] : kLevels4Bit[at];
}

SearchEncoder::SearchEncoder(uint8_t variant, int level)
    : variant_(variant), level_(searchLevel(variant, level)) {
    if (!variantSupported(variant)) level_.beam = 0;
    if (level_.beam == 0) return;
    const std::size_t codes = std::size_t{1} << length[variant];
    const std::size_t paths = level_.beam + std::size_t{1};  // and the reference's
    const std::size_t candidates = paths * codes;
    for (auto* v : {&cost_, &atByte_, &history_, &next_.cost, &next_.atByte, &next_.history}) {
        v->assign(paths, 0);
    }
    estimate_.assign(paths, 0);
    pointer_.assign(paths, 0);
    next_.estimate.assign(paths, 0);
    next_.pointer.assign(paths, 0);
    candEstimate_.resize(candidates);
    candPointer_.resize(candidates);
    candKey_.resize(candidates);
    candParent_.resize(candidates);
    candCode_.resize(candidates);
    unique_.reserve(candidates);
    select_.reserve(candidates);
    table_.assign(std::bit_ceil(2 * candidates), Slot{0, 0, 0});
    for (std::size_t p = 0; p < kStepRows; ++p) {
        const int width = std::bit_width(static_cast<uint32_t>(deltrom[p][variant])) - 1;
        bucketShift_[p] = static_cast<uint8_t>(std::clamp(width + level_.bucket, 0, 16));
    }
}

void SearchEncoder::encode(std::span<const int16_t> samples, std::vector<uint8_t>& out) {
    if (level_.beam == 0) {
        const std::size_t at = out.size();
        const std::size_t perByte = count[variant_] == 0 ? 1 : count[variant_];
        out.resize(at + (greedy_.pendingCount + samples.size()) / perByte);
        const int32_t n = encodeStream(&greedy_, variant_, samples.data(),
                                       static_cast<uint32_t>(samples.size()), out.data() + at);
        out.resize(at + static_cast<std::size_t>(n));
    } else if (variant_ == kVariant4Bit) {
        encodeSearch<kVariant4Bit>(samples, out);
    } else {
        encodeSearch<kVariant2Bit>(samples, out);
    }
}

void SearchEncoder::finish(std::vector<uint8_t>& out) {
    if (level_.beam == 0) return;  // the reference drops its pending codes
    if (variant_ == kVariant4Bit) {
        finishSearch<kVariant4Bit>(out);
    } else {
        finishSearch<kVariant2Bit>(out);
    }
}

template <uint8_t Variant>
void SearchEncoder::encodeSearch(std::span<const int16_t> samples, std::vector<uint8_t>& out) {
    using C = Codes<Variant>;
    for (const int16_t sample : samples) {
        step<Variant>(sample);
        if (pending_ >= level_.delay + C::kPerByte) commit<Variant>(out);
    }
}

// Extends every path by one sample and keeps the best.
template <uint8_t Variant>
void SearchEncoder::step(int32_t sample) {
    using C = Codes<Variant>;
    const Moves<Variant>& moves = kMoves<Variant>;
    const int window = level_.window;

    // Candidates: every path extended by the codes around the reference's choice.
    std::size_t n = 0;
    std::size_t referenceChild = SIZE_MAX;
    for (std::size_t i = 0; i < survivors_; ++i) {
        const int32_t estimate = estimate_[i];
        const uint8_t pointer = pointer_[i];
        const uint64_t cost = cost_[i];
        StreamState<Variant> reference{estimate, &kStepStates<Variant>[pointer]};
        const uint8_t chosen = encodeSample<Variant>(reference, sample);
        const int centre = C::rankOf(chosen);
        const int lo = std::max(0, centre - window);
        const int hi = std::min(C::kCodes - 1, centre + window);
        for (int rank = lo; rank <= hi; ++rank) {
            const uint8_t code = C::codeAt(rank);
            const int magnitude = code & (C::kMagnitudes - 1);
            const int32_t move = moves.move[pointer][magnitude];
            const int32_t next = rank < C::kMagnitudes ? std::max(estimate - move, -32768)
                                                       : std::min(estimate + move, 32767);
            const int64_t error = sample - next;
            const uint64_t total = std::min(cost + static_cast<uint64_t>(error * error), kCostCap);
            candEstimate_[n] = next;
            candPointer_[n] = moves.next[pointer][magnitude];
            candKey_[n] = total << 16 | n;
            candParent_[n] = static_cast<uint16_t>(i);
            candCode_[n] = code;
            if (static_cast<int>(i) == reference_ && code == chosen) referenceChild = n;
            ++n;
        }
    }

    // Merge candidates that reach nearly the same state into the better one. The
    // reference's own path is kept apart, whatever it meets.
    if (++stamp_ == 0) {
        std::fill(table_.begin(), table_.end(), Slot{0, 0, 0});
        stamp_ = 1;
    }
    const uint32_t mask = static_cast<uint32_t>(table_.size() - 1);
    unique_.clear();
    for (std::size_t k = 0; k < n; ++k) {
        if (k == referenceChild) continue;
        const uint8_t pointer = candPointer_[k];
        const uint32_t bucket =
            static_cast<uint32_t>(candEstimate_[k] + 32768) >> bucketShift_[pointer];
        const uint32_t key = (uint32_t{pointer} << 17) | bucket;
        uint32_t h = (key * 0x9E3779B1u) >> 7;
        for (;; ++h) {
            Slot& slot = table_[h & mask];
            if (slot.stamp != stamp_) {
                slot = Slot{stamp_, key, static_cast<uint32_t>(unique_.size())};
                unique_.push_back(static_cast<uint32_t>(k));
                break;
            }
            if (slot.key == key) {
                uint32_t& kept = unique_[slot.candidate];
                if (candKey_[k] < candKey_[kept]) kept = static_cast<uint32_t>(k);
                break;
            }
        }
    }

    // The best `beam` of them, in the order they were found.
    const std::size_t beam = level_.beam;
    uint64_t threshold = UINT64_MAX;
    if (unique_.size() > beam) {
        select_.clear();
        for (const uint32_t k : unique_) select_.push_back(candKey_[k]);
        std::nth_element(select_.begin(), select_.begin() + static_cast<std::ptrdiff_t>(beam - 1),
                         select_.end());
        threshold = select_[beam - 1];
    }
    std::size_t kept = 0;
    const auto take = [&](std::size_t k) {
        const uint16_t parent = candParent_[k];
        next_.estimate[kept] = candEstimate_[k];
        next_.pointer[kept] = candPointer_[k];
        next_.cost[kept] = candKey_[k] >> 16;
        next_.atByte[kept] = atByte_[parent];
        next_.history[kept] = history_[parent] << C::kWidth | candCode_[k];
        ++kept;
    };
    for (const uint32_t k : unique_) {
        if (candKey_[k] <= threshold) take(k);
    }
    reference_ = -1;
    if (referenceChild != SIZE_MAX) {
        reference_ = static_cast<int>(kept);
        take(referenceChild);
    }
    estimate_.swap(next_.estimate);
    pointer_.swap(next_.pointer);
    cost_.swap(next_.cost);
    atByte_.swap(next_.atByte);
    history_.swap(next_.history);
    survivors_ = kept;
    ++pending_;
    if (++phase_ == C::kPerByte) {
        phase_ = 0;
        for (std::size_t i = 0; i < survivors_; ++i) atByte_[i] = cost_[i];
    }
}

namespace {

// The best of some costs; on a tie the reference's path, then the earliest.
std::size_t bestOf(const std::vector<uint64_t>& costs, std::size_t n, int reference) {
    std::size_t best = 0;
    for (std::size_t i = 1; i < n; ++i) {
        if (costs[i] < costs[best]) best = i;
    }
    if (reference >= 0 && costs[static_cast<std::size_t>(reference)] == costs[best]) {
        best = static_cast<std::size_t>(reference);
    }
    return best;
}

}  // namespace

// Writes the best path's oldest byte and drops the paths that disagree with it.
template <uint8_t Variant>
void SearchEncoder::commit(std::vector<uint8_t>& out) {
    using C = Codes<Variant>;
    const std::size_t best = bestOf(cost_, survivors_, reference_);
    const int shift = (pending_ - C::kPerByte) * C::kWidth;
    const auto byte = static_cast<uint8_t>(history_[best] >> shift);
    out.push_back(byte);
    pending_ -= C::kPerByte;

    std::size_t kept = 0;
    int newReference = -1;
    for (std::size_t i = 0; i < survivors_; ++i) {
        if (static_cast<uint8_t>(history_[i] >> shift) != byte) continue;
        if (static_cast<int>(i) == reference_) newReference = static_cast<int>(kept);
        estimate_[kept] = estimate_[i];
        pointer_[kept] = pointer_[i];
        cost_[kept] = cost_[i];
        atByte_[kept] = atByte_[i];
        history_[kept] = history_[i];
        ++kept;
    }
    survivors_ = kept;
    reference_ = newReference;
    // What every path shares no longer tells them apart.
    const uint64_t shared = *std::min_element(atByte_.begin(), atByte_.begin() + kept);
    for (std::size_t i = 0; i < kept; ++i) {
        cost_[i] -= shared;
        atByte_[i] -= shared;
    }
}

template <uint8_t Variant>
void SearchEncoder::finishSearch(std::vector<uint8_t>& out) {
    using C = Codes<Variant>;
    // Codes after the last whole byte are not written, so their error does not count.
    const std::size_t best = bestOf(atByte_, survivors_, reference_);
    for (int left = pending_ - phase_; left >= C::kPerByte; left -= C::kPerByte) {
        const int shift = (left - C::kPerByte + phase_) * C::kWidth;
        out.push_back(static_cast<uint8_t>(history_[best] >> shift));
    }
    survivors_ = 0;
    pending_ = 0;
}
