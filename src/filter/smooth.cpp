// Square-window smoothing and median.
//
//   kxSmoothAvg  KIT_GRAY, KIT_RGB   (others unchanged; asserts "image")
//   kxMedian     KIT_GRAY, KIT_RGB
//
// Both walk the image row by row and write each finished row back in
// place.  Every output is computed from the input as it was: rows still
// needed as input after their own output is written are kept in a small
// ring of saved copies.
//
// The box mean keeps one running column sum per byte (add the row entering
// the window, subtract the one leaving it) and sums n of them across.  The
// 3 x 3 and 5 x 5 medians run min/max networks on pre-sorted columns;
// larger windows (and images below the window) use per-column histograms
// (256 fine and 16 coarse bins) whose window totals are searched for the
// middle rank.
#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "filter_detail.hpp"

using namespace kx;
using namespace kx::filter;

namespace {

// The window side: at most 9, an even value raised to the next odd one.
int windowSide(int windowSize)
{
    const int n = std::min(windowSize, 9);
    return n % 2 == 0 ? n + 1 : n;
}

// Saved copies of the last `count` input rows, slot y % count for row y.
class RowRing {
public:
    RowRing(size_t rowBytes, int count) : buf_(rowBytes * size_t(count)), bytes_(rowBytes), count_(count) {}
    explicit operator bool() const { return bool(buf_); }
    uint8_t *slot(int y) const { return buf_.get() + size_t(y % count_) * bytes_; }
    void save(const Image *im, int y) const { std::memcpy(slot(y), row(im, y), bytes_); }

private:
    Scratch<uint8_t> buf_;
    size_t bytes_;
    int count_;
};

// ---- box mean ----------------------------------------------------------

// The window sum divided by n*n as a float and truncated.  Sums stay below
// 81 * 256, so the float quotient is never within rounding distance of
// the next integer: the integer quotient is the same number.
template <int N, int C>
bool boxMean(Image *im) noexcept
{
    constexpr int H = N / 2, pad = H * C;
    const int w = im->width, h = im->height;
    const size_t W = size_t(w) * C;
    Scratch<uint16_t> sums(W + 2 * pad);
    RowRing ring(W, H + 1);
    if (!sums || !ring) return false;
    uint16_t *cs = sums.get() + pad;  // cs[-pad .. W+pad): zero outside the row
    std::fill(sums.get(), sums.get() + sums.size(), uint16_t(0));
    for (int y = 0; y <= std::min(H, h - 1); ++y) {
        const uint8_t *p = row(im, y);
        for (size_t i = 0; i < W; ++i) cs[i] = uint16_t(cs[i] + p[i]);
    }
    for (int y = 0; y < h; ++y) {
        ring.save(im, y);
        uint8_t *out = row(im, y);
        const uint16_t *first = cs - pad;
        for (size_t i = 0; i < W; ++i) {
            unsigned s = 0;
            for (int k = 0; k < N; ++k) s += first[i + size_t(k) * C];
            out[i] = uint8_t(uint16_t(s) / uint16_t(N * N));
        }
        // Slide the column sums down one row.
        if (y - H >= 0) {
            const uint8_t *leaving = ring.slot(y - H);
            for (size_t i = 0; i < W; ++i) cs[i] = uint16_t(cs[i] - leaving[i]);
        }
        if (y + H + 1 < h) {
            const uint8_t *entering = row(im, y + H + 1);
            for (size_t i = 0; i < W; ++i) cs[i] = uint16_t(cs[i] + entering[i]);
        }
    }
    return true;
}

template <int C>
bool boxMeanN(Image *im, int n) noexcept
{
    switch (n) {
    case 3: return boxMean<3, C>(im);
    case 5: return boxMean<5, C>(im);
    case 7: return boxMean<7, C>(im);
    default: return boxMean<9, C>(im);
    }
}

// ---- median ---------------------------------------------------------------

// Rank k/2 among the k values of one channel in columns x-half..x+half
// (clipped to the row) of the given rows (at most five of them, half at
// most 2): a border pixel of the 3 x 3 and 5 x 5 medians.
uint8_t clippedRank(const uint8_t *const *rows, int rowCount, int x, int w, int c, int ch, int half) noexcept
{
    uint8_t list[25];
    int k = 0;
    for (int r = 0; r < rowCount; ++r)
        for (int xx = std::max(0, x - half); xx <= std::min(w - 1, x + half); ++xx) {
            // Insertion into the sorted prefix: at most 25 values.
            const uint8_t v = rows[r][xx * c + ch];
            int j = k++;
            for (; j > 0 && list[j - 1] > v; --j) list[j] = list[j - 1];
            list[j] = v;
        }
    return list[k / 2];
}

// 3 x 3 median of an image of at least 3 x 3 pixels.  Each column triple
// is sorted once (shared by three windows); the median of nine is then the
// median of the largest column minimum, the median of the column middles
// and the smallest column maximum.
//
// Border windows hold 6 values and want rank 3.  They run through the same
// network with the missing row or column filled so that every three
// consecutive filler pixels hold one 0 and two 255s: a 0 sorts below every
// value and a 255 above, so rank 4 of the nine is rank 3 of the six.  The
// four corners (4 values, rank 2) select directly.
template <int C>
bool median3(Image *im) noexcept
{
    const int w = im->width, h = im->height;
    const size_t W = size_t(w) * C, P = W + 2 * C;  // P: a row with one filler pixel each side
    Scratch<uint8_t> rowBuf(4 * P);
    constexpr size_t kBlock = 1024;  // sorted columns stay in the first-level cache
    const size_t span = std::min(W, kBlock) + 2 * C;
    Scratch<uint8_t> cols(3 * span);
    if (!rowBuf || !cols) return false;
    uint8_t *ring[3] = {rowBuf.get(), rowBuf.get() + P, rowBuf.get() + 2 * P};
    uint8_t *filler = rowBuf.get() + 3 * P;
    for (size_t X = 0; X < size_t(w) + 2; ++X) std::memset(filler + X * C, X % 3 == 0 ? 0 : 255, C);
    auto load = [&](int y) {
        uint8_t *slot = ring[y % 3];
        const int v = y % 3 == 0 ? 0 : 255;
        std::memset(slot, v, C);
        std::memcpy(slot + C, row(im, y), W);
        std::memset(slot + C + W, v, C);
    };
    uint8_t *lo = cols.get(), *md = lo + span, *hi = md + span;
    const ColumnSteps steps = columnSteps();
    load(0);
    for (int y = 0; y < h; ++y) {
        if (y + 1 < h) load(y + 1);
        const uint8_t *a = y > 0 ? ring[(y - 1) % 3] : filler, *b = ring[y % 3];
        const uint8_t *c = y + 1 < h ? ring[(y + 1) % 3] : filler;
        uint8_t *out = row(im, y);
        for (size_t s = 0; s < W; s += kBlock) {
            const size_t n = std::min(W - s, kBlock);
            steps.sort(a + s, b + s, c + s, lo, md, hi, n + 2 * C);
            steps.merge(lo, md, hi, out + s, n, C);
        }
        if (y == 0 || y == h - 1) {
            const uint8_t *rows[2] = {(y == 0 ? b : a) + C, (y == 0 ? c : b) + C};
            for (int ch = 0; ch < C; ++ch) {
                out[ch] = clippedRank(rows, 2, 0, w, C, ch, 1);
                out[W - C + ch] = clippedRank(rows, 2, w - 1, w, C, ch, 1);
            }
        }
    }
    return true;
}

// 5 x 5 median of an image of at least 5 x 5 pixels: each column of five
// is sorted once (shared by five windows) and five neighbouring sorted
// columns are merged down to their 13th value.
//
// Windows clipped by the border run through the same steps with the
// missing pixels filled: a window of k values wants rank k/2, which is the
// 13th of 25 when 12 - k/2 fillers are 0 (below every value) and the
// others 255 (above).  Each row is kept with two filler columns a side,
// the nearer one P(y) = 0, 0, 255, 255, 255 down the rows again and again
// and the farther one 255 - P(y): five rows of one column hold two 0s,
// of both five.  So a window missing one column (k = 20) has 2 zeros of 5
// fillers and one missing two (k = 15) 5 of 10.  Likewise a row missing
// from the window is filled with P along the row, two missing rows with a
// row of 0s and one of 255s.  Only the sixteen corner pixels, short of
// rows and columns both, select directly.
template <int C>
bool median5(Image *im) noexcept
{
    const int w = im->width, h = im->height;
    const size_t W = size_t(w) * C, pad = 2 * C, P = W + 2 * pad;
    constexpr size_t kBlock = 512;  // the sorted columns stay in the first-level cache
    const size_t span = std::min(W, kBlock) + 2 * pad;
    Scratch<uint8_t> ringBuf(5 * P), cols(5 * span), fillers(3 * P);
    if (!ringBuf || !cols || !fillers) return false;
    uint8_t *const sorted[5] = {cols.get(), cols.get() + span, cols.get() + 2 * span, cols.get() + 3 * span,
                                cols.get() + 4 * span};
    auto pattern = [](size_t i) { return uint8_t(i % 5 < 2 ? 0 : 255); };
    // Padded rows: pixel 0 of a row at slot + pad.
    uint8_t *const low = fillers.get(), *const high = low + P, *const mixed = high + P;
    std::memset(low, 0, P);
    std::memset(high, 255, P);
    std::memset(mixed, 0, P);
    for (size_t i = 0; i < W; ++i) mixed[pad + i] = pattern(i / C);
    auto slot = [&](int y) { return ringBuf.get() + size_t(y % 5) * P; };
    auto save = [&](int y) {
        uint8_t *q = slot(y);
        const uint8_t near = pattern(size_t(y)), far = uint8_t(255 - near);
        std::memset(q, far, C);
        std::memset(q + C, near, C);
        std::memcpy(q + pad, row(im, y), W);
        std::memset(q + pad + W, near, C);
        std::memset(q + pad + W + C, far, C);
    };
    const ColumnSteps steps = columnSteps();
    for (int y = 0; y < 2; ++y) save(y);
    for (int y = 0; y < h; ++y) {
        if (y + 2 < h) save(y + 2);
        const int top = std::max(0, y - 2), bottom = std::min(h - 1, y + 2);
        const int count = bottom - top + 1;
        const uint8_t *window[5] = {low, high, low, low, high};
        for (int r = top; r <= bottom; ++r) window[r - top] = slot(r);
        if (count == 4) window[4] = mixed;
        uint8_t *out = row(im, y);
        // Output byte i has its window's first column at padded byte i.
        const size_t from = count == 5 ? 0 : pad, to = count == 5 ? W : W - pad;
        for (size_t s = from; s < to; s += kBlock) {
            const size_t n = std::min(to - s, kBlock);
            const uint8_t *in[5];
            for (int r = 0; r < 5; ++r) in[r] = window[r] + s;
            steps.sort5(in, sorted, n + 2 * pad);
            steps.merge5(sorted, out + s, n, C);
        }
        if (count == 5) continue;
        const uint8_t *rows[5];
        for (int r = top; r <= bottom; ++r) rows[r - top] = slot(r) + pad;
        for (int x : {0, 1, w - 2, w - 1})
            for (int ch = 0; ch < C; ++ch) out[size_t(x) * C + ch] = clippedRank(rows, count, x, w, C, ch, 2);
    }
    return true;
}

// Smallest bin b of a 16-bin count vector whose running total exceeds
// `rank`; `below` receives the running total before b.  Counts stay below
// 128, so signed byte arithmetic holds them.
inline int rankBin16(const uint8_t *counts, int rank, int &below)
{
#if defined(__SSE2__)
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(counts));
    v = _mm_add_epi8(v, _mm_slli_si128(v, 1));
    v = _mm_add_epi8(v, _mm_slli_si128(v, 2));
    v = _mm_add_epi8(v, _mm_slli_si128(v, 4));
    v = _mm_add_epi8(v, _mm_slli_si128(v, 8));
    const int mask = _mm_movemask_epi8(_mm_cmpgt_epi8(v, _mm_set1_epi8(char(rank))));
    const int b = __builtin_ctz(unsigned(mask));
    alignas(16) uint8_t prefix[16];
    _mm_store_si128(reinterpret_cast<__m128i *>(prefix), v);
    below = b ? prefix[b - 1] : 0;
    return b;
#else
    int run = 0;
    for (int b = 0; b < 16; ++b) {
        if (run + counts[b] > rank) {
            below = run;
            return b;
        }
        run += counts[b];
    }
    below = run;
    return 15;
#endif
}

// One 16-byte vector operation each: left to the compiler, the byte loops
// sometimes stay scalar, and the 16-byte load of the totals that follows
// sixteen byte stores stalls.
inline void addBins16(uint8_t *acc, const uint8_t *v)
{
#if defined(__SSE2__)
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(acc));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(v));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(acc), _mm_add_epi8(a, b));
#else
    for (int j = 0; j < 16; ++j) acc[j] = uint8_t(acc[j] + v[j]);
#endif
}
inline void subBins16(uint8_t *acc, const uint8_t *v)
{
#if defined(__SSE2__)
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(acc));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(v));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(acc), _mm_sub_epi8(a, b));
#else
    for (int j = 0; j < 16; ++j) acc[j] = uint8_t(acc[j] - v[j]);
#endif
}

// n x n median for any odd n <= 9 with the window clipped to the image:
// per-column histograms of the rows in the window, a running coarse total
// across the window's columns per channel, and a fine total summed for
// the one coarse bin that holds the wanted rank.
template <int C>
bool medianHistogram(Image *im, int n) noexcept
{
    const int H = n / 2;
    const int w = im->width, h = im->height;
    const size_t W = size_t(w) * C;
    Scratch<uint8_t> fineBuf(W * 256), coarseBuf(W * 16);
    RowRing ring(W, H + 1);
    if (!fineBuf || !coarseBuf || !ring) return false;
    std::memset(fineBuf.get(), 0, fineBuf.size());
    std::memset(coarseBuf.get(), 0, coarseBuf.size());
    uint8_t *fine = fineBuf.get(), *coarse = coarseBuf.get();
    auto addRow = [&](const uint8_t *p, int delta) {
        for (size_t i = 0; i < W; ++i) {
            fine[i * 256 + p[i]] = uint8_t(fine[i * 256 + p[i]] + delta);
            coarse[i * 16 + (p[i] >> 4)] = uint8_t(coarse[i * 16 + (p[i] >> 4)] + delta);
        }
    };
    for (int y = 0; y <= std::min(H, h - 1); ++y) addRow(row(im, y), 1);

    for (int y = 0; y < h; ++y) {
        ring.save(im, y);
        const int rows = std::min(h - 1, y + H) - std::max(0, y - H) + 1;
        uint8_t *out = row(im, y);
        alignas(16) uint8_t total[C][16] = {};
        for (int x = 0; x <= std::min(H, w - 1); ++x)
            for (int ch = 0; ch < C; ++ch) addBins16(total[ch], coarse + (size_t(x) * C + ch) * 16);
        for (int x = 0; x < w; ++x) {
            const int x0 = std::max(0, x - H), x1 = std::min(w - 1, x + H);
            const int rank = rows * (x1 - x0 + 1) / 2;
            for (int ch = 0; ch < C; ++ch) {
                int below;
                const int seg = rankBin16(total[ch], rank, below);
                alignas(16) uint8_t bins[16] = {};
                for (int xx = x0; xx <= x1; ++xx) addBins16(bins, fine + (size_t(xx) * C + ch) * 256 + seg * 16);
                int below2;
                const int b = rankBin16(bins, rank - below, below2);
                out[size_t(x) * C + ch] = uint8_t(seg * 16 + b);
            }
            // Slide the coarse totals one column right.
            if (x + H + 1 < w)
                for (int ch = 0; ch < C; ++ch) addBins16(total[ch], coarse + (size_t(x + H + 1) * C + ch) * 16);
            if (x - H >= 0)
                for (int ch = 0; ch < C; ++ch) subBins16(total[ch], coarse + (size_t(x - H) * C + ch) * 16);
        }
        if (y - H >= 0) addRow(ring.slot(y - H), -1);
        if (y + H + 1 < h) addRow(row(im, y + H + 1), 1);
    }
    return true;
}

template <int C>
bool medianN(Image *im, int n) noexcept
{
    if (n == 3 && im->width >= 3 && im->height >= 3) return median3<C>(im);
    if (n == 5 && im->width >= 5 && im->height >= 5) return median5<C>(im);
    return medianHistogram<C>(im, n);
}

// The shared frame: asserts, type and window gate.  Returns the window
// side, or 0 when the image is to be returned unchanged.
int smoothingWindow(const Image *image, int windowSize)
{
    if (image->imageType != KIT_GRAY && image->imageType != KIT_RGB) return 0;
    if (!typeOk(image) || windowSize <= 1) return 0;  // a window of one pixel changes nothing
    return windowSide(windowSize);
}

}  // namespace

extern "C" {

Image *kxSmoothAvg(Image *image, int windowSize)
{
    if (!image) return kx::failed("image", nullptr);
    const int n = smoothingWindow(image, windowSize);
    if (n == 0) return image;
    const bool done = image->imageType == KIT_GRAY ? boxMeanN<1>(image, n) : boxMeanN<3>(image, n);
    if (!done) return kx::failed("pDest", image);
    return image;
}

Image *kxMedian(Image *image, int windowSize)
{
    if (!image) return kx::failed("image", nullptr);
    const int n = smoothingWindow(image, windowSize);
    if (n == 0) return image;
    const bool done = image->imageType == KIT_GRAY ? medianN<1>(image, n) : medianN<3>(image, n);
    if (!done) return kx::failed("pDest", image);
    return image;
}

}  // extern "C"
