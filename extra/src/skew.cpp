// Page skew by projection profiles.  The page is cut into vertical strips
// kStrip pixels wide; each strip's row profile (set pixels per row) is
// counted once.  The profile of the page sheared by angle t is the sum of
// the strip profiles, strip j moved up by round(xj * tan t), xj its centre's
// distance from the page centre - a sum of contiguous byte rows, whatever
// the angle.  Text lines make that profile peaky at the page's skew; the
// score is the sum of squared differences of neighbouring bins.
#include <algorithm>
#include <cmath>

#include "extra_detail.hpp"

using namespace kx;

namespace {

constexpr int kStrip = 16;                        // strip width in pixels (profile entries fit a byte)
constexpr int kMaxWidth = 1 << 22;                // widest page searched
constexpr double kRange = 15.0;                   // search range in degrees, either side of 0
constexpr double kCoarseStep = 0.25;              // first sweep
constexpr double kFineSteps[] = {0.025, 0.0025};  // then +-10 steps around the best, twice
constexpr double kPi = 3.14159265358979323846;

struct Profiles {
    int strips = 0, height = 0, width = 0;
    uint8_t *counts = nullptr;  // strips x height, strip-major
};


// bins[y] += weight * counts[y] for every row y (bins offset by the caller).
[[gnu::always_inline]] inline void addProfile(const uint8_t *counts, int height, int32_t weight, int32_t *bins)
{
    for (int y = 0; y < height; ++y) bins[y] += weight * int32_t(counts[y]);
}

// Sum of squared neighbour differences, exact: a difference is below 2^31,
// its square below 2^62, and the sum of up to 2^31 of them fits 128 bits.
unsigned __int128 differenceScore(const int32_t *bins, int n)
{
    unsigned __int128 score = 0;
    for (int i = 1; i < n; ++i) {
        const int64_t d = int64_t(bins[i]) - bins[i - 1];
        score += uint64_t(d * d);
    }
    return score;
}

// Strip j's shift at the given tangent in 1/256 rows: floor(xc * tan * 256
// + 0.5), or with whole rows only floor(xc * tan + 0.5) * 256.
inline int64_t shiftOf(const Profiles &p, int j, double tangent, bool subRow)
{
    const double centre = double(j) * kStrip + 0.5 * std::min(kStrip, p.width - j * kStrip) - 0.5 * p.width;
    if (!subRow) return int64_t(std::floor(centre * tangent + 0.5)) * 256;
    return int64_t(std::floor(centre * tangent * 256.0 + 0.5));
}

// The score of one angle; `bins` holds room for height + 2 * reach + 4.
// A strip moved up by f + q/256 rows puts (256 - q) * count of row y into
// bin y - f and q * count into bin y - f - 1 (linear interpolation in
// integers).
double scoreAt(const Profiles &p, double degrees, int reach, bool subRow, int32_t *bins)
{
    const double tangent = std::tan(degrees * kPi / 180.0);
    const int n = p.height + 2 * reach + 4, base = reach + 2;
    std::fill(bins, bins + n, 0);
    int lo = 0, hi = n;  // the bins every strip covers
    const auto add = isa::Clones<addProfile>::table.pick();
    for (int j = 0; j < p.strips; ++j) {
        const int64_t t = shiftOf(p, j, tangent, subRow);
        const int f = int(t >> 8), q = int(t & 255);  // floor division by 256
        const uint8_t *counts = p.counts + size_t(j) * size_t(p.height);
        add(counts, p.height, 256 - q, bins + base - f);
        if (q) add(counts, p.height, q, bins + base - f - 1);
        lo = std::max(lo, base - f);
        hi = std::min(hi, base - f + p.height - 1);
    }
    // Only there: the ramps where strips begin and end at different bins
    // (and the step at an edge that ink touches) are no text lines.  Per
    // difference, so that angles that leave fewer such bins compare fairly.
    return hi - lo > 1 ? double(differenceScore(bins + lo, hi - lo)) / double(hi - lo - 1) : 0.0;
}

}  // namespace

extern "C" {

int kxxFindSkew(const Image *image, double *angle, double *confidence)
{
    if (!(image && angle && confidence)) return kx::failed("image && angle && confidence", 0);
    if (!typeOk(image) || image->imageType != KIT_BIN) return 0;
    // A bin sums at most 256 * 16 per strip: int32 holds pages up to 2^22
    // pixels wide.
    if (image->width > kMaxWidth) {
        *angle = 0.0;
        *confidence = 0.0;
        return 1;
    }
    Profiles p;
    p.width = image->width;
    p.height = image->height;
    p.strips = (p.width + kStrip - 1) / kStrip;
    Scratch<uint8_t> counts(size_t(p.strips) * size_t(p.height));
    // Strip centres lie within width / 2 of the page centre.
    const int reach = int(std::ceil(0.5 * p.width * std::tan(kRange * kPi / 180.0))) + 1;
    Scratch<int32_t> bins(size_t(p.height) + 2 * size_t(reach) + 4);
    if (!(counts && bins)) return kx::failed("counts && bins", 0);
    p.counts = counts.get();

    int64_t ink = 0;
    for (int y = 0; y < p.height; ++y) {
        const uint8_t *r = row(image, y);
        for (int j = 0; j < p.strips; ++j) {
            const int x0 = j * kStrip, x1 = std::min(p.width, x0 + kStrip);
            int c = 0;
            for (int x = x0; x < x1; ++x) c += r[x] != 0;
            p.counts[size_t(j) * size_t(p.height) + size_t(y)] = uint8_t(c);
            ink += c;
        }
    }
    if (ink == 0) {
        *angle = 0.0;
        *confidence = 0.0;
        return 1;
    }

    // Coarse sweep over the whole range; the mean score of the sweep is the
    // background the best one is measured against.
    const int coarseCount = int(std::lround(2 * kRange / kCoarseStep)) + 1;
    double best = 0.0, sum = 0.0;
    double bestScore = -1.0;
    for (int i = 0; i < coarseCount; ++i) {
        const double a = -kRange + kCoarseStep * i;
        const double s = scoreAt(p, a, reach, false, bins.get());
        sum += s;
        if (s > bestScore || (s == bestScore && std::fabs(a) < std::fabs(best))) {
            bestScore = s;
            best = a;
        }
    }
    const double mean = sum / coarseCount, coarseBest = bestScore;

    // Finer sweeps of +-10 steps around the best so far, kept in range, on
    // scores with sub-row shifts (which smooth the profile, so they compare
    // only among themselves).
    bestScore = scoreAt(p, best, reach, true, bins.get());
    for (double step : kFineSteps) {
        const double centre = best;
        for (int i = -10; i <= 10; ++i) {
            const double a = centre + step * i;
            if (i == 0 || a < -kRange || a > kRange) continue;
            const double s = scoreAt(p, a, reach, true, bins.get());
            if (s > bestScore || (s == bestScore && std::fabs(a) < std::fabs(best))) {
                bestScore = s;
                best = a;
            }
        }
    }
    *angle = best;
    *confidence = coarseBest > 0.0 ? std::max(0.0, (coarseBest - mean) / coarseBest) : 0.0;
    return 1;
}

Image *kxxDeskew(Image *image, double minConfidence, int nearest, double *angle)
{
    if (!image) return nullptr;
    double a = 0.0, c = 0.0;
    if (!kxxFindSkew(image, &a, &c)) return image;
    if (angle) *angle = a;
    if (c < minConfidence || a == 0.0) return image;
    return kxRotateEx(image, a, nearest, 1);
}

int kxxFindPageSkew(const Image *page, double *angle, double *confidence)
{
    if (!(page && angle && confidence)) return kx::failed("page && angle && confidence", 0);
    if (!typeOk(page)) return 0;
    if (page->imageType == KIT_BIN) return kxxFindSkew(page, angle, confidence);
    TempImage ink(kxiClone(page, nullptr));
    if (!ink) return kx::failed("ink", 0);
    kxxCleanPage(ink.get(), 0, 0, nullptr);
    if (ink->imageType != KIT_BIN) return 0;  // the binarizer's scratch memory ran out (reported)
    return kxxFindSkew(ink.get(), angle, confidence);
}

Image *kxxDeskewPage(Image *page, double minConfidence, double *angle, double *confidence)
{
    if (!page) return nullptr;
    if (!typeOk(page) || std::isnan(minConfidence)) return page;
    double a = 0.0, c = 0.0;
    if (!kxxFindPageSkew(page, &a, &c)) return page;
    if (angle) *angle = a;
    if (confidence) *confidence = c;
    if (c < minConfidence || a == 0.0) return page;
    // Ink-set binary pages turn pixel for pixel over paper 0; grey and
    // colour ones bilinearly over white.
    if (page->imageType == KIT_BIN) return kxRotateEx(page, a, 1, 1);
    return kxRotateE2(page, a, 0xFFFFFFFFu, 0, 1);
}

}  // extern "C"
