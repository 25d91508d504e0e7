// Local integral thresholding: kxbLocalIntegral compares every pixel of a
// KIT_GRAY image with a level made from the mean and standard deviation of
// the w x w window centred on it (zero outside the image, divisor always
// w * w) and turns the image into KIT_BIN.  Other types come back unchanged.
//
// Window sums of values and of squared values are whole numbers below 2^53,
// so any exact way of adding them gives the same doubles as summed-area
// tables.  This file keeps running column sums instead of full-size tables:
// one byte per pixel of scratch (the original pixels, since the image is
// rewritten in place) plus a few rows, and no per-pixel work that grows
// with the window.  The arithmetic after the sums is fixed: mean and mean of
// squares divided in double and stored as float, their float difference,
// its root taken in double and stored as float, and the level in double.
#include <algorithm>
#include <cmath>

#include "frame/frame.hpp"
#include "threshold_detail.hpp"

using namespace kx;

extern "C" {

Image *kxbLocalIntegral(Image *image, int window, uint8_t range, float k)
{
    if (!image) return nullptr;
    if (!thr::isGrey(image)) return image;

    // An even side becomes the next odd one; a side below 1 counts as 1 (each
    // pixel its own window).  64-bit, so that w * w cannot overflow.
    int64_t w = window;
    if (w < 1)
        w = 1;
    else if (w % 2 == 0)
        ++w;
    const int64_t half = w / 2;
    const double area = double(w * w);

    const int width = image->width, height = image->height;
    const size_t rowLen = size_t(width);
    Scratch<uint8_t> source(rowLen * size_t(height));
    Scratch<int64_t> columns(2 * rowLen);      // per column: sum of values, of squares
    Scratch<int64_t> prefix(2 * (rowLen + 1)); // running sums of those along the row
    if (!(source && columns && prefix)) return kx::failed("imgI && imgM && imgV && imgGxG", image);

    for (int y = 0; y < height; ++y) std::memcpy(source.get() + size_t(y) * rowLen, row(image, y), rowLen);
    int64_t *colSum = columns.get(), *colSq = colSum + rowLen;
    int64_t *preSum = prefix.get(), *preSq = preSum + rowLen + 1;
    std::fill(colSum, colSum + 2 * rowLen, 0);

    auto addRow = [&](int64_t y, int sign) {
        const uint8_t *p = source.get() + size_t(y) * rowLen;
        for (size_t x = 0; x < rowLen; ++x) {
            colSum[x] += sign * int64_t(p[x]);
            colSq[x] += sign * int64_t(p[x]) * p[x];
        }
    };
    for (int64_t y = 0; y <= std::min<int64_t>(half, height - 1); ++y) addRow(y, 1);

    const double r = range;
    for (int y = 0; y < height; ++y) {
        preSum[0] = preSq[0] = 0;
        for (size_t x = 0; x < rowLen; ++x) {
            preSum[x + 1] = preSum[x] + colSum[x];
            preSq[x + 1] = preSq[x] + colSq[x];
        }
        const uint8_t *src = source.get() + size_t(y) * rowLen;
        uint8_t *dst = row(image, y);
        for (int x = 0; x < width; ++x) {
            const int64_t lo = std::max<int64_t>(0, x - half), hi = std::min<int64_t>(width, x + half + 1);
            const float mean = float(double(preSum[hi] - preSum[lo]) / area);
            const float meanSq = float(double(preSq[hi] - preSq[lo]) / area);
            const float variance = meanSq - mean * mean;
            const float sd = float(std::sqrt(double(variance)));
            const double level = double(mean) * (1.0 + double(k) * (double(sd) / r - 1.0));
            // A NaN level (negative rounded variance, 0/0 with range 0)
            // fails every comparison: such pixels are foreground.
            dst[x] = !(double(src[x]) <= level);
        }
        if (y - half >= 0) addRow(y - half, -1);
        if (y + half + 1 < height) addRow(y + half + 1, 1);
    }
    image->imageType = KIT_BIN;
    return image;
}

}  // extern "C"
