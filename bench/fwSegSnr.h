// Frequency-weighted segmental SNR (Hu and Loizou, "Evaluation of objective quality
// measures for speech enhancement", 2008): per 30 ms Hann frame at 75 % overlap, the
// magnitude spectra of source and playback (each normalised to unit area) summed into 25
// critical bands by Gaussian-shaped filters; each band's SNR weighted by the source's band
// magnitude to the power 0.2; each frame held within -10 ... 35 dB; the mean over frames.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <numbers>
#include <span>
#include <vector>

namespace fwseg {

// In-place radix-2 FFT; the size is a power of two.
inline void fft(std::vector<std::complex<double>>& x) {
    const std::size_t n = x.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(x[i], x[j]);
    }
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const std::complex<double> w = std::polar(1.0, -2 * std::numbers::pi / len);
        for (std::size_t i = 0; i < n; i += len) {
            std::complex<double> z = 1;
            for (std::size_t k = 0; k < len / 2; ++k, z *= w) {
                const std::complex<double> a = x[i + k], b = x[i + k + len / 2] * z;
                x[i + k] = a + b;
                x[i + k + len / 2] = a - b;
            }
        }
    }
}

}  // namespace fwseg

inline double fwSegSnrDb(std::span<const int16_t> source, std::span<const int16_t> played,
                         uint32_t rate) {
    constexpr std::array<double, 25> centre = {
        50,      120,     190,     260,     330,     400,     470,     540,     617.372,
        703.378, 798.717, 904.128, 1020.38, 1148.30, 1288.72, 1442.54, 1610.70, 1794.16,
        1993.93, 2211.08, 2446.71, 2701.97, 2978.04, 3276.17, 3597.63};
    constexpr std::array<double, 25> width = {
        70,      70,      70,      70,      70,      70,      70,      77.3724, 86.0056,
        95.3398, 105.411, 116.256, 127.914, 140.423, 153.823, 168.154, 183.457, 199.776,
        217.153, 235.631, 255.255, 276.072, 298.126, 321.465, 346.136};
    const std::size_t win = static_cast<std::size_t>(std::lround(30.0 * rate / 1000));
    const std::size_t skip = win / 4, nfft = std::bit_ceil(2 * win), half = nfft / 2;
    const double maxFreq = rate / 2.0, minFactor = std::exp(-30 / (2 * 2.303));
    std::vector<std::array<double, 25>> filter(half);
    for (std::size_t b = 0; b < 25; ++b) {
        const double f0 = centre[b] / maxFreq * half, bw = width[b] / maxFreq * half;
        const double norm = std::log(width[0]) - std::log(width[b]);
        for (std::size_t j = 0; j < half; ++j) {
            const double d = (static_cast<double>(j) - std::floor(f0)) / bw;
            const double v = std::exp(-11 * d * d + norm);
            filter[j][b] = v > minFactor ? v : 0;
        }
    }
    std::vector<double> hann(win);
    for (std::size_t i = 0; i < win; ++i) {
        hann[i] = 0.5 * (1 - std::cos(2 * std::numbers::pi * (i + 1) / (win + 1)));
    }
    const auto bands = [&](std::span<const int16_t> x, std::size_t at) {
        std::vector<std::complex<double>> z(nfft);
        for (std::size_t i = 0; i < win; ++i) z[i] = x[at + i] * hann[i];
        fwseg::fft(z);
        double area = 0;
        for (std::size_t j = 0; j < half; ++j) area += std::abs(z[j]);
        std::array<double, 25> e{};
        for (std::size_t j = 0; j < half && area > 0; ++j) {
            const double m = std::abs(z[j]) / area;
            for (std::size_t b = 0; b < 25; ++b) e[b] += filter[j][b] * m;
        }
        return std::pair{e, area};
    };
    const std::size_t n = std::min(source.size(), played.size());
    double sum = 0;
    std::size_t frames = 0;
    for (std::size_t at = 0; at + win <= n; at += skip) {
        const auto [clean, cleanArea] = bands(source, at);
        const auto [coded, codedArea] = bands(played, at);
        if (cleanArea == 0 || codedArea == 0) continue;
        double weighted = 0, weights = 0;
        for (std::size_t b = 0; b < 25; ++b) {
            const double d = clean[b] - coded[b];
            if (clean[b] == 0) continue;
            const double error = std::max(d * d, std::numeric_limits<double>::epsilon());
            const double w = std::pow(clean[b], 0.2);
            weighted += w * 10 * std::log10(clean[b] * clean[b] / error);
            weights += w;
        }
        sum += std::clamp(weighted / weights, -10.0, 35.0);
        ++frames;
    }
    return frames == 0 ? 0 : sum / static_cast<double>(frames);
}
