// The search's lookahead: the least error with which a state can play the samples ahead,
// by branch and bound (see search.h).
#include "codec/searchLookahead.h"

namespace search_detail {

namespace {

// The least squared error with which the next `depth` samples can be played from this
// state, or `bound` or more when no sequence of codes plays them with less. Each sample's
// codes are tried from the nearest outwards, and a direction is left as soon as its error
// alone reaches the best found: the estimates rise with the codes' rank, so the errors
// further out only grow. Once the budget of nodes is spent, the nearest code alone. The
// nearest is the quantiser's code or one beside it (so it was in 36 million random states
// and samples); were it not, a path would only be scored a little worse. The last sample
// adds the floor its nearest code leaves under the `tail` samples after it: a way of
// playing that lets the step fall too small for the swings just past the lookahead pays
// for what it can no longer reach there.
template <uint8_t Variant, int Depth>
uint64_t lookaheadTo(int32_t estimate, uint8_t pointer, const int16_t* future, int tail,
                     uint64_t bound, int& budget) {
    using C = Codes<Variant>;
    const auto& move = kMoves<Variant>.move[pointer];
    const auto& next = kMoves<Variant>.next[pointer];
    const int32_t target = future[0];
    const auto playing = [&](int rank) {
        return std::clamp(estimate + move[static_cast<std::size_t>(rank)], -32768, 32767);
    };
    const auto error = [&](int rank) {
        const int64_t e = target - playing(rank);
        return static_cast<uint64_t>(e * e);
    };
    StreamState<Variant> quantiser{estimate, &kStepStates<Variant>[pointer]};
    const int chosen = C::rankOf(encodeSample<Variant>(quantiser, target));
    const int below = std::max(chosen - 1, 0);
    const int above = std::min(chosen + 1, C::kCodes - 1);
    // Without branches: which is nearest is as unpredictable as the signal.
    const uint64_t belowError = error(below), aboveError = error(above);
    uint64_t nearestError = error(chosen);
    int nearest = belowError < nearestError ? below : chosen;
    nearestError = std::min(belowError, nearestError);
    nearest = aboveError < nearestError ? above : nearest;
    nearestError = std::min(aboveError, nearestError);
    --budget;
    if constexpr (Depth == 1) {
        // The tail's floor, sample by sample, until it reaches the bound.
        const int32_t played = playing(nearest);
        const auto& reach = kReach<Variant>[next[static_cast<std::size_t>(nearest)]];
        uint64_t total = nearestError;
        for (int k = 0; k < tail && total < bound; ++k) {
            const int64_t gap = std::max<int64_t>(
                std::abs(future[k + 1] - played) - reach[static_cast<std::size_t>(k)], 0);
            total += static_cast<uint64_t>(gap * gap);
        }
        return total;
    } else {
        uint64_t best = bound;
        const auto visit = [&](int rank) {
            const uint64_t here = error(rank);
            if (here >= best) return false;
            // A branch that cannot reach the samples after it closely enough is passed over,
            // for the price of a node.
            const uint8_t pointerAfter = next[static_cast<std::size_t>(rank)];
            if (here + beyondReach<Variant>(playing(rank), pointerAfter, future + 1, Depth - 1) >=
                best) {
                return --budget > 0;
            }
            const uint64_t rest = lookaheadTo<Variant, Depth - 1>(
                playing(rank), pointerAfter, future + 1, tail, best - here, budget);
            best = std::min(best, here + rest);
            return budget > 0;
        };
        if (visit(nearest)) {
            for (int rank = nearest + 1; rank < C::kCodes && visit(rank); ++rank) {
            }
            for (int rank = nearest - 1; rank >= 0 && budget > 0 && visit(rank); --rank) {
            }
        }
        return best;
    }
}

}  // namespace

// The same for a depth known only at run time, up to 8.
template <uint8_t Variant>
uint64_t lookahead(int32_t estimate, uint8_t pointer, const int16_t* future, int depth, int tail,
                   uint64_t bound, int& budget) {
    switch (depth) {
        case 1:
            return lookaheadTo<Variant, 1>(estimate, pointer, future, tail, bound, budget);
        case 2:
            return lookaheadTo<Variant, 2>(estimate, pointer, future, tail, bound, budget);
        case 3:
            return lookaheadTo<Variant, 3>(estimate, pointer, future, tail, bound, budget);
        case 4:
            return lookaheadTo<Variant, 4>(estimate, pointer, future, tail, bound, budget);
        case 5:
            return lookaheadTo<Variant, 5>(estimate, pointer, future, tail, bound, budget);
        case 6:
            return lookaheadTo<Variant, 6>(estimate, pointer, future, tail, bound, budget);
        case 7:
            return lookaheadTo<Variant, 7>(estimate, pointer, future, tail, bound, budget);
        default:
            return lookaheadTo<Variant, 8>(estimate, pointer, future, tail, bound, budget);
    }
}

template uint64_t lookahead<kVariant4Bit>(int32_t, uint8_t, const int16_t*, int, int, uint64_t,
                                          int&);
template uint64_t lookahead<kVariant2Bit>(int32_t, uint8_t, const int16_t*, int, int, uint64_t,
                                          int&);

}  // namespace search_detail
