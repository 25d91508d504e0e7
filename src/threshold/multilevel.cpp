// Multi-level thresholding: kxbMultiLevel posterizes a KIT_GRAY image into
// `levels` classes chosen from its histogram (multilevel_search.cpp).  Other
// types come back unchanged; the image stays KIT_GRAY.
#include "frame/frame.hpp"
#include "threshold_detail.hpp"

using namespace kx;
using namespace kx::thr;

extern "C" {

Image *kxbMultiLevel(Image *image, int levels)
{
    if (!image) return nullptr;
    // 2..256 classes: fewer leave no threshold to choose, more do not fit
    // into 256 grey levels.
    if (!isGrey(image) || levels < 2 || levels > 256) return image;
    int32_t hist[256];
    const int64_t n = countGrey(image, nullptr, hist);
    int b[255];
    if (!multiLevelThresholds(hist, n, levels, b)) return image;

    // p <= b[0] -> 0; b[i-1] < p <= b[i] -> b[i-1]; p > b[K-1] -> 255.
    const int k = levels - 1;
    uint8_t table[256];
    for (int v = 0, i = 0; v < 256; ++v) {
        while (i < k && v > b[i]) ++i;
        table[v] = i == 0 ? 0 : i == k ? 255 : uint8_t(b[i - 1]);
    }
    applyLut(image, table, 1);
    return image;
}

}  // extern "C"
