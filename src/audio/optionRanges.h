// The range of each value a recording's preparation takes, stated once: the library refuses
// what lies outside (invalid_option) and kestrune-adpcm's options check the same rows.
#pragma once

#include <cmath>
#include <optional>

namespace kestrune::detail {

struct OptionRange {
    double low, high;
    const char* unit;  // as the tool's message names it
    // A finite number within [low, high].
    constexpr bool holds(double v) const { return std::isfinite(v) && v >= low && v <= high; }
    constexpr bool holds(const std::optional<double>& v) const { return !v || holds(*v); }
};

inline constexpr OptionRange kGainRange{-200, 200, "dB"};
inline constexpr OptionRange kNormalizeRange{-200, 0, "dB"};
inline constexpr OptionRange kLoudnessRange{-70, 0, "dB"};
inline constexpr OptionRange kSpeechLevelRange{-70, 0, "dB"};
inline constexpr OptionRange kPeakRange{-60, 0, "dB"};
inline constexpr OptionRange kTrimRange{-120, -1, "dB"};
inline constexpr OptionRange kTrimMarginRange{0, 10000, "ms"};

}  // namespace kestrune::detail
