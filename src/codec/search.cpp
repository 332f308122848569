#include "codec/search.h"

#include <algorithm>
#include <bit>
#include <iterator>

#include "codec/searchCodes.h"
#include "codec/searchLookahead.h"

using search_detail::Codes;

const SearchLevel& searchLevel(uint8_t variant, int level) {
    const int at = std::clamp(level, 0, kSearchLevels - 1);
    return variant == kVariant2Bit ? kLevels2Bit[at] : kLevels4Bit[at];
}

SearchEncoder::SearchEncoder(uint8_t variant, int level, SearchTune tune, uint32_t rate,
                             int32_t ceiling)
    : SearchEncoder(variant, searchLevel(variant, level), tune, rate, ceiling) {}

SearchEncoder::SearchEncoder(uint8_t variant, const SearchLevel& level, SearchTune tune,
                             uint32_t rate, int32_t ceiling)
    : variant_(variant), level_(level), ceiling_(std::clamp(ceiling, 0, kNoCeiling)) {
    if (!variantSupported(variant)) level_.beam = 0;
    if (level_.beam == 0) return;
    // The code below the reference's plays no further out than the sample.
    if (ceiling_ < kNoCeiling) level_.window = std::max<uint8_t>(level_.window, 1);
    // Candidates are numbered in 16 bits; the history of pending codes fits 64.
    const std::size_t codes = (std::size_t{1} << length[variant]) + (level_.extremes ? 2 : 0);
    level_.beam = static_cast<uint16_t>(std::min<std::size_t>(level_.beam, 65535 / codes - 1));
    const int perByte = count[variant];
    level_.delay =
        static_cast<uint8_t>(std::min<int>(level_.delay, 64 / length[variant] - perByte));
    const std::size_t paths = level_.beam + std::size_t{1};  // and the reference's
    level_.depth = std::min<uint8_t>(level_.depth, 8);
    level_.tail = static_cast<uint8_t>(
        std::min<int>(level_.tail, search_detail::kReachSamples - level_.depth));
    const std::size_t candidates = paths * codes;
    for (auto* v : {&cost_, &atByte_, &history_, &ahead_, &next_.cost, &next_.atByte,
                    &next_.history, &next_.ahead}) {
        v->assign(paths, 0);
    }
    estimate_.assign(paths, 0);
    pointer_.assign(paths, 0);
    if (tune == SearchTune::kPerceptual) {
        frames_.emplace(rate);
        // What follows a frame is known only as far as its window reaches.
        const std::size_t margin = frames_->margin();
        level_.depth = static_cast<uint8_t>(std::min<std::size_t>(level_.depth, margin));
        level_.tail =
            static_cast<uint8_t>(std::min<std::size_t>(level_.tail, margin - level_.depth));
        memory_.assign(paths, WeightingMemory{});
        next_.memory.assign(paths, WeightingMemory{});
        feedback_.assign(paths, 0);
    }

    next_.estimate.assign(paths, 0);
    next_.pointer.assign(paths, 0);
    candEstimate_.resize(candidates);
    candPointer_.resize(candidates);
    candKey_.resize(candidates);
    candParent_.resize(candidates);
    candAhead_.assign(candidates, 0);
    candRank_.resize(candidates);
    bestRanks_.resize(level_.beam);
    candCode_.resize(candidates);
    unique_.resize(candidates);
    evicted_.resize(candidates);
    select_.resize(candidates);
    table_.assign(std::bit_ceil(4 * candidates), Slot{0, 0});
    tableShift_ = static_cast<uint8_t>(32 - std::countr_zero(table_.size()));
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
        encodeSearch<kVariant4Bit>(samples, out, false);
    } else {
        encodeSearch<kVariant2Bit>(samples, out, false);
    }
}

void SearchEncoder::finish(std::vector<uint8_t>& out) {
    if (level_.beam == 0) return;  // the reference drops its pending codes
    if (variant_ == kVariant4Bit) {
        encodeSearch<kVariant4Bit>({}, out, true);
        finishSearch<kVariant4Bit>(out);
    } else {
        encodeSearch<kVariant2Bit>({}, out, true);
        finishSearch<kVariant2Bit>(out);
    }
}

// Plain: every sample at once. Weighted: the samples of each frame whose filter is known;
// at the end, the rest.
template <uint8_t Variant>
void SearchEncoder::encodeSearch(std::span<const int16_t> samples, std::vector<uint8_t>& out,
                                 bool end) {
    using C = Codes<Variant>;
    const std::size_t depth = std::size_t{level_.depth} + level_.tail;  // samples read ahead
    if (!frames_) {
        // Each sample is searched once the lookahead's samples after it have arrived.
        waiting_.insert(waiting_.end(), samples.begin(), samples.end());
        std::size_t at = 0;
        for (; at < waiting_.size() && (end || waiting_.size() - at > depth); ++at) {
            step<Variant, false>(waiting_[at], waiting_.data() + at + 1,
                                 std::min(depth, waiting_.size() - at - 1));
            if (pending_ >= level_.delay + C::kPerByte) commit<Variant>(out);
        }
        waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<std::ptrdiff_t>(at));
        return;
    }
    frames_->push(samples);
    WeightingFilter filter;
    std::span<const int16_t> frame;
    const int order = frames_->order();
    while (frames_->next(end, &filter, &frame)) {
        for (int p = 0; p < order; ++p) turned_[static_cast<std::size_t>(p)].turn(filter, p);
        // The frame's samples and those after it lie in one buffer.
        const std::size_t known = frame.size() + frames_->following().size();
        for (std::size_t at = 0; at < frame.size(); ++at) {
            step<Variant, true>(frame[at], frame.data() + at + 1, std::min(depth, known - at - 1));
            position_ = position_ + 1 == order ? 0 : position_ + 1;
            if (pending_ >= level_.delay + C::kPerByte) commit<Variant>(out);
        }
    }
}

// Extends every path by one sample and keeps the best. Branch-free where the data
// decides, since which candidates win is as unpredictable as the signal.
namespace {

// The path of the least cost, plus its lookahead's when given; on a tie the reference's
// path, then the earliest.
std::size_t bestOf(const std::vector<uint64_t>& costs, const std::vector<uint64_t>* ahead,
                   std::size_t n, int reference) {
    const auto at = [&](std::size_t i) { return costs[i] + (ahead ? (*ahead)[i] : 0); };
    std::size_t best = 0;
    for (std::size_t i = 1; i < n; ++i) {
        if (at(i) < at(best)) best = i;
    }
    if (reference >= 0 && at(static_cast<std::size_t>(reference)) == at(best)) {
        best = static_cast<std::size_t>(reference);
    }
    return best;
}

}  // namespace

// Writes the best path's oldest byte and drops the paths that disagree with it.
template <uint8_t Variant>
void SearchEncoder::commit(std::vector<uint8_t>& out) {
    using C = Codes<Variant>;
    const std::size_t best = bestOf(cost_, &ahead_, survivors_, reference_);
    const int shift = (pending_ - C::kPerByte) * C::kWidth;
    const auto byte = static_cast<uint8_t>(history_[best] >> shift);
    out.push_back(byte);
    pending_ -= C::kPerByte;

    std::size_t kept = 0;
    int newReference = -1;
    for (std::size_t i = 0; i < survivors_; ++i) {
        if (static_cast<uint8_t>(history_[i] >> shift) != byte) continue;
        if (static_cast<int>(i) == reference_) newReference = static_cast<int>(kept);
        if (kept == i) {  // usually every path agrees: nothing moves
            ++kept;
            continue;
        }
        estimate_[kept] = estimate_[i];
        pointer_[kept] = pointer_[i];
        cost_[kept] = cost_[i];
        atByte_[kept] = atByte_[i];
        history_[kept] = history_[i];
        ahead_[kept] = ahead_[i];
        if (!memory_.empty()) memory_[kept] = memory_[i];
        ++kept;
    }
    survivors_ = kept;
    reference_ = newReference;
    // What every path shares no longer tells them apart.
    const uint64_t shared = *std::min_element(atByte_.begin(), atByte_.begin() + kept);
    settled_ += shared;
    for (std::size_t i = 0; i < kept; ++i) {
        cost_[i] -= shared;
        atByte_[i] -= shared;
    }
}

template <uint8_t Variant>
void SearchEncoder::finishSearch(std::vector<uint8_t>& out) {
    using C = Codes<Variant>;
    // Codes after the last whole byte are not written, so their error does not count.
    const std::size_t best = bestOf(atByte_, nullptr, survivors_, reference_);
    settled_ += atByte_[best];
    keptReference_ = reference_ >= 0;
    for (int left = pending_ - phase_; left >= C::kPerByte; left -= C::kPerByte) {
        const int shift = (left - C::kPerByte + phase_) * C::kWidth;
        out.push_back(static_cast<uint8_t>(history_[best] >> shift));
    }
    survivors_ = 0;
    pending_ = 0;
}
