// The multi-level threshold search: the tuple of thresholds whose classes
// have the largest sum of (class weight x squared class mean).
//
// The result is defined by an exhaustive walk over every ordered tuple in
// lexicographic order (the last class's end included), scoring each one as
//   score = ((0 + a[0]) + a[1]) + ... + a[K]      (double, left to right)
// with a[L] = classP * classH of class L as a float product, and keeping the
// first tuple whose score is strictly the largest.  That walk visits ~2.8
// million layouts for three classes and grows combinatorially, so this file
// walks the same tuples in the same order but skips what cannot matter:
//
//  1. The last class.  Rounding is monotone: x <= y implies
//     fl(x + c) <= fl(y + c) and fl(c + x) <= fl(c + y).  So over the end of
//     the last class the best score is fl(prefix + max term), one lookup
//     in the table best[1][start].
//  2. Subtrees that cannot win.  best[k][s] is the largest sum of k
//     consecutive class terms starting at grey level s (a dynamic programme
//     over the same float terms).  Below a prefix with value A, no tuple can
//     score more than A + best[k][s] plus the rounding of a few double
//     additions of values below 2^17, far below kSlack; when that bound does
//     not exceed the best score so far, the subtree holds no tuple that would
//     replace it and is skipped.
//  3. Subtrees walked before.  What a subtree can score depends only on
//     its level, its first grey level and the prefix value, and grows with
//     the prefix.  Once a subtree has been walked, the best score is at
//     least everything in it; walking it again with a prefix no larger
//     cannot replace the best tuple.  Tuples that tie (thresholds moved
//     across empty bins) reach the same subtrees with the same prefix and
//     are skipped this way.
//  4. A head start.  The walk begins with best score max(0, M - kSlack),
//     M = best[K + 1][0] the optimum up to rounding, below the true optimum;
//     the first optimal tuple still replaces it, and the walk prunes from
//     the start.  With a score of 0 for every tuple (all pixels 0) nothing
//     ever replaces the initial tuple 0, 1, ..., K - 1.
// The tests compare this with the plain exhaustive walk on random
// histograms.
#include <algorithm>
#include <limits>

#include "frame/frame.hpp"
#include "threshold/threshold_detail.hpp"

namespace kx::thr {

namespace {

constexpr double kSlack = 1e-5;
constexpr double kNone = -std::numeric_limits<double>::infinity();

struct Search {
    const float *term;  // term[start * 256 + end] = classP * classH
    const double *best; // best[k * 257 + s], k = 1..K + 1 classes from s
    double *walked;     // walked[level * 257 + start]: largest prefix walked
    int k;              // number of thresholds
    double score;
    int current[256];
    int *result;

    const double *bestFrom(int classes) const { return best + size_t(classes) * 257; }

    void walk(int level, int start, double prefix)
    {
        // A subtree already walked from this start with a prefix at least as
        // large holds nothing above the best score any more.
        double &seen = walked[size_t(level) * 257 + size_t(start)];
        if (prefix <= seen) return;
        const int maxEnd = 255 - k + level;
        const float *row = term + size_t(start) * 256;
        const double *lastClass = bestFrom(1);
        const double *rest = bestFrom(k - level);
        for (int end = start; end <= maxEnd; ++end) {
            const double value = prefix + double(row[end]);
            current[level] = end;
            if (level == k - 1) {
                const double s = value + lastClass[end + 1];
                if (score < s) {
                    score = s;
                    std::copy(current, current + k, result);
                }
            } else if (value + rest[end + 1] + kSlack > score) {
                walk(level + 1, end + 1, value);
            }
        }
        seen = prefix;
    }
};

}  // namespace

bool multiLevelThresholds(const int32_t hist[256], int64_t n, int levels, int *out) noexcept
{
    const int k = levels - 1;
    float q[256];
    for (int i = 0; i < 256; ++i) q[i] = float(hist[i] * 1.0 / double(n));

    Scratch<float> term(256 * 256);
    Scratch<double> best(size_t(levels + 1) * 257);
    Scratch<double> walked(size_t(levels) * 257);
    if (!term || !best || !walked) return false;
    std::fill(walked.get(), walked.get() + walked.size(), kNone);

    // Class terms: weight and mean accumulated in float in ascending order,
    // the mean and its square each rounded to float, 0 for an empty class.
    for (int start = 0; start < 256; ++start) {
        float weight = 0.0f, moment = 0.0f;
        for (int end = start; end < 256; ++end) {
            weight += q[end];
            moment += float(end) * q[end];
            float h = 0.0f;
            if (weight != 0.0f) {
                const float mean = moment / weight;
                h = mean * mean;
            }
            term[size_t(start) * 256 + end] = weight * h;
        }
    }

    // best[c][s]: the largest sum of c class terms covering s.. (the last
    // class may stop before 255); kNone where c classes do not fit.
    for (int s = 0; s <= 256; ++s) best[257 + size_t(s)] = kNone;
    for (int s = 255; s >= 0; --s) {
        const float *row = term.get() + size_t(s) * 256;
        best[257 + size_t(s)] = *std::max_element(row + s, row + 256);
    }
    for (int c = 2; c <= levels; ++c) {
        double *cur = best.get() + size_t(c) * 257;
        const double *prev = cur - 257;
        for (int s = 0; s <= 256; ++s) {
            double m = kNone;
            for (int e = s; e < 255; ++e)
                if (prev[e + 1] != kNone) m = std::max(m, double(term[size_t(s) * 256 + e]) + prev[e + 1]);
            cur[s] = m;
        }
    }

    Search search{term.get(), best.get(), walked.get(), k, 0.0, {}, out};
    search.score = std::max(0.0, best[size_t(levels) * 257] - kSlack);
    for (int i = 0; i < k; ++i) out[i] = i;
    search.walk(0, 0, 0.0);
    return true;
}

}  // namespace kx::thr
