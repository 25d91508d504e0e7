// One call from a scanned page to a clean, straight binary page for OCR:
// the document binarizer with ink set, then the scan border, the specks
// (keeping the dots of text), optionally the ruling lines, and the skew.
// The limits follow the page's measured text height, or its resolution when
// no letters are found (see kxxCleanPage in kxextra.h).
#include <algorithm>
#include <cmath>
#include <cstring>

#include "cleanup.hpp"
#include "extra_detail.hpp"

using namespace kx;

namespace {

constexpr int kMaxDpi = 10000;
constexpr int kDpiPerTextHeight = 12;  // measured text height (pixels) * 12 ~ dots per inch
constexpr int kDpiPerStroke = 100;     // stroke width (pixels) * 100 ~ dots per inch, without letters
constexpr int kDefaultDpi = 300;       // neither letters nor strokes
constexpr int kMinScale = 8;           // smallest text height the limits are taken from
constexpr double kTurnConfidence = 0.5;

int clampInt64(int64_t v) { return int(std::min<int64_t>(v, INT32_MAX)); }

}  // namespace

extern "C" {

Image *kxxCleanPage(Image *page, int dpi, int turn, KxxCleanReport *report)
{
    if (!page) return nullptr;
    if (!typeOk(page) || page->imageType == KIT_BIN || dpi < 0 || dpi > kMaxDpi ||
        (turn & ~(KXX_CLEAN_TURN | KXX_CLEAN_RULINGS)))
        return page;
    if (page->imageType != KIT_GRAY && !kxiCast(page, KIT_GRAY)) return page;  // a wrapped colour page
    // The grey page, kept for its dark scan border (pixels at most half its
    // Otsu level).
    const int w = page->width, h = page->height;
    Scratch<uint8_t> grey(size_t(w) * size_t(h));
    if (!grey) return failed("grey", page);
    for (int y = 0; y < h; ++y) std::memcpy(grey.get() + size_t(y) * size_t(w), row(page, y), size_t(w));
    const int darkLevel = kxxLevel(page, nullptr, KXX_OTSU) / 2;
    KxxPageMeasures m{};
    kxx::binarizeDocument(page, 1, 0, true, &m);  // the specks are cleared below, the dots of text kept
    if (page->imageType != KIT_BIN) return page;  // memory ran out (reported)

    KxxCleanReport r{};
    r.strokeWidth = m.strokeWidth;
    r.textHeight = m.textHeight;
    if (dpi > 0) {
        r.dpi = dpi;
    } else {
        r.dpiEstimated = 1;
        r.dpi = m.textHeight > 0   ? std::clamp(m.textHeight * kDpiPerTextHeight, 50, kMaxDpi)
                : m.strokeWidth > 0 ? std::clamp(m.strokeWidth * kDpiPerStroke, 50, kMaxDpi)
                                    : kDefaultDpi;
    }
    const int scale = std::max(m.textHeight > 0 ? m.textHeight : r.dpi / kDpiPerTextHeight, kMinScale);
    const int sw = std::max(m.strokeWidth, 1);

    const kxx::Removed dark = kxx::clearDarkBorder(page, grey.get(), darkLevel, 2 * scale, sw, 3 * sw + 2);
    const kxx::Removed border = kxx::clearScanBorder(page, 2 * scale);
    r.borderPixels = clampInt64(dark.pixels + border.pixels);

    r.speckLimit = scale * scale / 12;
    const kxx::Removed specks = kxx::removeSpecks(page, r.speckLimit, sw * sw / 4, scale, scale / 2);
    r.specks = clampInt64(specks.components);
    r.speckPixels = clampInt64(specks.pixels);

    if (turn & KXX_CLEAN_RULINGS) {
        const kxx::Removed lines = kxx::removeRulings(page, 8 * scale, 2 * sw);
        r.linePixels = clampInt64(lines.pixels);
    }
    if (turn & KXX_CLEAN_TURN) {
        double a = 0.0, c = 0.0;
        kxxFindSkew(page, &a, &c);
        r.angle = a;
        r.confidence = c;
        if (c >= kTurnConfidence && a != 0.0) {
            kxRotateEx(page, a, 1, 1);
            r.turned = 1;
        }
    }
    if (report) *report = r;
    return page;
}

}  // extern "C"
