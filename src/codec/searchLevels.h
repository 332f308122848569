// The search's levels, one row a level per code width: the tables' size is the number of
// levels every interface states.
#pragma once

#include <cstdint>
#include <iterator>
#include <span>

// How hard one level searches.
struct SearchLevel {
    uint16_t beam;      // surviving paths, fewer than 65536 candidates; 0: the reference quantiser
    uint8_t window;     // codes tried on each side of the reference's choice
    uint8_t delay;      // samples before a code is committed
    int8_t bucket;      // merge bucket width: 2^(bucket + floor(log2 step)); -16: exact states
    uint8_t depth = 0;  // samples ahead that a path's future is scored on, up to 8
    bool extremes = false;  // the codes that move the step fastest are tried on every path
    uint8_t tail = 0;  // samples after those whose floor from reach the lookahead adds, up to 24
};

// Levels per code width, from the reference quantiser up: each the best quality measured on
// the benchmark corpus at its speed, no slower than the level of the same number before
// the lookahead. One path scored a few samples ahead, with the extreme codes beside the
// reference's, beats a wide beam scored on the past alone; finer merging pays once the
// beam holds a few paths. 2-bit paths try all four codes; a single 2-bit path needs its
// codes decided a few bytes late, or its lookahead leads it far from the reference's. A
// tail (the floor from reach under the samples just past the lookahead) keeps a 2-bit
// step from falling too small before a swing: it costs a few nodes where a deeper
// lookahead costs many.
// One row a level:
// clang-format off
inline constexpr SearchLevel kLevels4Bit[] = {
    {0, 0, 0, 0},
    {1, 0, 0, 0, 1, true},
    {1, 0, 0, 0, 2, true},
    {1, 1, 0, 0, 2, true},
    {1, 2, 0, 0, 3, true},
    {2, 2, 2, 0, 3, true},
    {3, 2, 4, -1, 3, true},
    {4, 3, 8, -2, 3, true},
    {5, 3, 10, -3, 4, true},
    {8, 4, 14, -5, 5, true},
};
inline constexpr SearchLevel kLevels2Bit[] = {
    {0, 0, 0, 0},
    {1, 2, 4, 0, 2},
    {1, 2, 8, 0, 3},
    {1, 2, 12, 0, 4},
    {1, 2, 20, 0, 5},
    {2, 2, 12, -1, 4},
    {2, 2, 16, -1, 4, false, 12},
    {3, 2, 28, -2, 5, false, 16},
    {6, 2, 28, -3, 5, false, 12},
    {10, 2, 28, -4, 5, false, 16},
};
// clang-format on

// The number of levels, 0 included: the tables' size. The public headers state it too, and
// are checked against it where the library is built.
inline constexpr int kSearchLevels = static_cast<int>(std::size(kLevels4Bit));

// A row for every level at both widths, and every level above the reference's searches:
// tables of different sizes, or a level that does not search, do not build.
constexpr bool everyLevelSearches(std::span<const SearchLevel> levels) {
    for (std::size_t level = 1; level < levels.size(); ++level) {
        if (levels[level].beam == 0) return false;
    }
    return levels[0].beam == 0;
}
static_assert(std::size(kLevels2Bit) == std::size(kLevels4Bit));
static_assert(everyLevelSearches(kLevels4Bit) && everyLevelSearches(kLevels2Bit));
