// Random histograms of several shapes for the selector and multi-level
// tests: dense, a few occupied bins (many ties), counts from a tiny set, a
// single bin (sometimes grey level 0 only), huge counts, a holed triangle
// and two smooth modes.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace ref {

inline std::vector<int32_t> randomHistogram(std::mt19937 &rng, int shape)
{
    std::vector<int32_t> h(256, 0);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    switch (shape % 7) {
    case 0:
        for (auto &c : h) c = pick(0, 5000);
        break;
    case 1:
        for (int i = pick(1, 6); i > 0; --i) h[pick(0, 255)] = pick(1, 50);
        break;
    case 2:
        for (auto &c : h) c = pick(0, 3);
        break;
    case 3: h[pick(0, 1) ? 0 : pick(0, 255)] = pick(1, 1 << 20); break;
    case 4:
        for (auto &c : h) c = pick(0, 1) * pick(1 << 20, 1 << 24);
        break;
    case 5:
        for (int i = 0; i < 256; ++i) h[i] = pick(0, 4) == 0 ? 0 : (i < 128 ? i * 3 : (255 - i) * 5) + pick(0, 2);
        break;
    default:
        for (int i = 0; i < 256; ++i) h[i] = 2000 / (1 + (i - 60) * (i - 60) / 40) + 900 / (1 + (i - 190) * (i - 190) / 90);
        break;
    }
    return h;
}

}  // namespace ref
