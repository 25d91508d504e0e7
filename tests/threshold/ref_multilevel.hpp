// The plain multi-level search: two 256 x 256 class tables indexed
// end * 256 + start and a recursion over every ordered tuple, the last
// class's end included, keeping the first strictly best score.
#pragma once

#include <cstdint>
#include <vector>

namespace ref {

struct MultiLevel {
    std::vector<float> classP = std::vector<float>(65536), classH = std::vector<float>(65536);
    int levels = 0;
    double best = 0.0;
    std::vector<int> t, bestT;
    std::vector<float> pathP, pathH;

    void level(int L, int start, int maxEnd)
    {
        const int K = levels - 1;
        for (int end = start; end <= maxEnd; ++end) {
            pathP[L] = classP[end * 256 + start];
            pathH[L] = classH[end * 256 + start];
            t[L] = end;
            if (L < K) {
                level(L + 1, end + 1, 257 - levels + L);
            } else {
                double score = 0.0;
                for (int i = 0; i <= K; ++i) score += pathP[i] * pathH[i];
                if (best < score) {
                    best = score;
                    for (int i = 0; i < K; ++i) bestT[i] = t[i];
                }
            }
        }
    }
};

// Thresholds for `levels` classes of a histogram of n pixels; the tuple
// starts as 0, 1, ..., K - 1 (kept when no score is above 0).
inline std::vector<int> multiLevel(const int32_t h[256], int64_t n, int levels)
{
    MultiLevel s;
    s.levels = levels;
    float q[256];
    for (int i = 0; i < 256; ++i) q[i] = float(h[i] * 1.0 / double(n));
    for (int start = 0; start < 256; ++start) {
        float P = 0.0f, S = 0.0f;  // sums over start..end, ascending
        for (int end = start; end < 256; ++end) {
            P += q[end];
            S += float(end) * q[end];
            const float mu = P != 0.0f ? S / P : 0.0f;
            s.classP[end * 256 + start] = P;
            s.classH[end * 256 + start] = mu * mu;
        }
    }
    s.t.assign(levels, 0);
    s.bestT.resize(levels - 1);
    for (int i = 0; i < levels - 1; ++i) s.bestT[i] = i;
    s.pathP.assign(levels, 0.0f);
    s.pathH.assign(levels, 0.0f);
    s.level(0, 0, 256 - levels);
    return s.bestT;
}

}  // namespace ref
