// The threshold dispatcher: kxThreshold picks a binarization of this family
// by method code.  KIT_GRAY only; other types come back unchanged.
//
//   0 kxbSimple   1 kxbDark   2 kxbLight   3 kxbInner   4 kxbOuter
//   16 kxbLocalIntegral   17 kxbMultiLevel   18 kxbMaxEntropy
//   19 kxbIsoData   20 kxbMinError   21 kxbOtsu   other codes: nothing
#include "frame/frame.hpp"
#include "threshold_detail.hpp"

extern "C" {

Image *kxThreshold(Image *image, int method, int p1, int p2, double param)
{
    if (!image) return nullptr;
    if (!kx::thr::isGrey(image)) return image;
    // Thresholds keep their low eight bits; counts and windows pass whole.
    const uint8_t t1 = uint8_t(p1 & 255), t2 = uint8_t(p2 & 255);
    switch (method) {
    case 0: return kxbSimple(image, t1, 0);
    case 1: return kxbDark(image, t1, 1, 1);
    case 2: return kxbLight(image, t1, 1, 1);
    case 3: return kxbInner(image, t1, t2, 1, 1);
    case 4: return kxbOuter(image, t1, t2, 1, 1);
    case 16: return kxbLocalIntegral(image, p1, t2, float(param));
    case 17: return kxbMultiLevel(image, p1);
    case 18: return kxbMaxEntropy(image);
    case 19: return kxbIsoData(image, p1, p2);
    case 20: return kxbMinError(image, p1);
    case 21: return kxbOtsu(image, nullptr);
    default: return image;
    }
}

}  // extern "C"
