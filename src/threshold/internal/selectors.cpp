// Histogram selectors: from a 256-bin histogram to one grey level.  Nothing
// here touches an image; the exports in global.cpp count the histograms.
//
// Each selector keeps its own precision, because the chosen level depends on
// it: Otsu works in single precision throughout, the others in double over
// integer counts.  Every selector puts its level into the lower class.
#include <cfloat>
#include <cmath>

#include "threshold/threshold_detail.hpp"

namespace kx::thr {

int otsuLevel(const float hist[256], int64_t n) noexcept
{
    float p[256];
    const double total = double(n);
    for (int i = 0; i < 256; ++i) p[i] = float(double(hist[i]) / total);

    float meanAll = 0.0f;
    for (int i = 0; i < 256; ++i) meanAll += float(i) * p[i];

    // Between-class value for every split; at omega 0 or 1 the quotient is
    // left to IEEE arithmetic: 0/0 is NaN and never compares greater, x/0 is
    // +inf and beats every finite value.
    float omega = 0.0f, mean = 0.0f, best = 0.0f;
    int level = 0;
    for (int t = 0; t < 256; ++t) {
        omega += p[t];
        mean += float(t) * p[t];
        const float d = meanAll * omega - mean;
        const float sigma = d * d / ((1.0f - omega) * omega);
        if (best < sigma) {
            best = sigma;
            level = t;
        }
    }
    return level;
}

namespace {

struct ClassStats {
    double weight, mean, variance;
};

// Weight, mean and variance of bins lo..hi (empty when lo > hi).  Every sum
// starts at DBL_MIN, so an empty class has weight DBL_MIN, mean 1 and
// variance 1 and the logarithms below stay finite.
ClassStats classStats(const double *p, int lo, int hi)
{
    double w = DBL_MIN;
    for (int i = lo; i <= hi; ++i) w += p[i];
    double m = DBL_MIN;
    for (int i = lo; i <= hi; ++i) m += i * p[i];
    m /= w;
    double v = DBL_MIN;
    for (int i = lo; i <= hi; ++i) {
        const double d = i - m;
        v += d * d * p[i];
    }
    return {w, m, v / w};
}

// Sum of counts (exact in double) and the normalized histogram.
double normalize(const int32_t hist[256], double p[256])
{
    double total = 0.0;
    for (int i = 0; i < 256; ++i) total += hist[i];
    if (total > 0.0)
        for (int i = 0; i < 256; ++i) p[i] = hist[i] / total;
    return total;
}

}  // namespace

int minErrorLevel(const int32_t hist[256], bool poisson) noexcept
{
    double p[256];
    if (normalize(hist, p) == 0.0) return 255;
    double best = DBL_MAX;
    int level = 255;
    for (int t = 0; t < 256; ++t) {
        const ClassStats a = classStats(p, 0, t), b = classStats(p, t + 1, 255);
        double j;
        if (!poisson)
            j = 1 + 2 * (a.weight * std::log(a.variance) + b.weight * std::log(b.variance)) -
                2 * (a.weight * std::log(a.weight) + b.weight * std::log(b.weight));
        else
            j = (a.weight * a.mean + b.weight * b.mean) - a.weight * (std::log(a.weight) + a.mean * std::log(a.mean)) -
                b.weight * (std::log(b.weight) + b.mean * std::log(b.mean));
        if (j < best) {
            best = j;
            level = t;
        }
    }
    return level;
}

int maxEntropyLevel(const int32_t hist[256]) noexcept
{
    double p[256];
    if (normalize(hist, p) == 0.0) return 255;
    double cumulative[256];
    cumulative[0] = p[0];
    for (int i = 1; i < 256; ++i) cumulative[i] = cumulative[i - 1] + p[i];

    // Entropy of bins lo..hi, each bin taken relative to the class weight.
    auto entropy = [&](int lo, int hi, double weight) {
        double e = 0.0;
        if (weight > DBL_MIN)
            for (int i = lo; i <= hi; ++i)
                if (p[i] > DBL_MIN) {
                    const double r = p[i] / weight;
                    e -= r * std::log(r);
                }
        return e;
    };
    auto sumAt = [&](int t) { return entropy(0, t, cumulative[t]) + entropy(t + 1, 255, 1.0 - cumulative[t]); };

    // Level 0 only sets the value to beat; it is never returned.
    double best = sumAt(0);
    int level = 255;
    for (int t = 1; t < 256; ++t) {
        const double s = sumAt(t);
        if (best < s) {
            best = s;
            level = t;
        }
    }
    return level;
}

int modeLevel(const int32_t hist[256]) noexcept
{
    int32_t best = 0;
    int level = 0;
    for (int i = 0; i < 256; ++i)
        if (hist[i] > best) {
            best = hist[i];
            level = i;
        }
    return level;
}

int isodataLevel(const int32_t hist[256], int maxIterations, int window) noexcept
{
    // Smoothing: a centred moving sum divided by the window itself (an even
    // window sums 2 * half + 1 bins); bins whose window does not fit keep
    // their count.  A window <= 0 would divide by zero or sum nothing.
    if (window <= 0) window = 1;
    const int half = window / 2;
    double s[256];
    for (int i = 0; i < 256; ++i) {
        if (i < half || i > 255 - half) {
            s[i] = hist[i];
            continue;
        }
        double sum = 0.0;
        for (int k = -half; k <= half; ++k) sum += hist[i + k];
        s[i] = sum / window;
    }

    int t = 128, previous = -1;
    for (int iteration = 0; iteration <= maxIterations && previous != t; ++iteration) {
        double highSum = 0.0, highWeight = 0.0, lowSum = 0.0, lowWeight = 0.0;
        for (int i = t; i < 256; ++i) {
            highSum += i * s[i];
            highWeight += s[i];
        }
        for (int i = 0; i < t; ++i) {
            lowSum += i * s[i];
            lowWeight += s[i];
        }
        // A side without counts has no mean; it takes the other side's, so
        // T moves to the mean of all pixels and the next step splits them.
        // Both sides hold counts from then on.
        if (highWeight == 0.0 && lowWeight == 0.0) break;  // empty histogram: T stays
        const double high = highWeight != 0.0 ? highSum / highWeight : lowSum / lowWeight;
        const double low = lowWeight != 0.0 ? lowSum / lowWeight : high;
        previous = t;
        t = int(std::floor((high + low) / 2 + 0.5));
    }
    return t;
}

}  // namespace kx::thr
