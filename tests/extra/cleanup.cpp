// Cleaning pages: the speck, border and ruling cleaners against literal
// versions of their rules on random images and drawn cases; kxxCleanPage on
// pages drawn with the library's own text: the dots of text stay, specks
// go, a turned page comes back straight, a page without text lines stays
// as it is, and the report says what was done.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <tuple>

#include "kxextra.h"
#include "kxtest.hpp"

using kxtest::ImagePtr;

namespace {

bool at(const Image *im, int x, int y) { return im->data[size_t(y) * im->pitch + x] != 0; }

// 8-connected labels and areas by flood fill (the components' definition).
std::vector<int> floodLabels(const Image *im, std::vector<int> &area)
{
    const int w = im->width, h = im->height;
    std::vector<int> l(size_t(w) * h, 0);
    area.assign(1, 0);
    std::vector<std::pair<int, int>> stack;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (!at(im, x, y) || l[size_t(y) * w + x]) continue;
            area.push_back(0);
            const int k = int(area.size()) - 1;
            stack = {{x, y}};
            l[size_t(y) * w + x] = k;
            while (!stack.empty()) {
                auto [px, py] = stack.back();
                stack.pop_back();
                ++area[k];
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int nx = px + dx, ny = py + dy;
                        if (nx < 0 || ny < 0 || nx >= w || ny >= h || !at(im, nx, ny) || l[size_t(ny) * w + nx]) continue;
                        l[size_t(ny) * w + nx] = k;
                        stack.push_back({nx, ny});
                    }
            }
        }
    return l;
}

// kxxRemoveSpecks' rule, literally: every pixel of every speck looks at
// every pixel of its square.
std::vector<uint8_t> specksByRule(const Image *im, int maxArea, int nearArea, int reach)
{
    const int w = im->width, h = im->height;
    std::vector<int> area;
    const auto l = floodLabels(im, area);
    std::vector<uint8_t> stays(area.size(), 0);
    for (size_t k = 1; k < area.size(); ++k) stays[k] = area[k] > maxArea;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int k = l[size_t(y) * w + x];
            if (!k || area[k] > maxArea || area[k] <= nearArea || stays[k]) continue;
            for (int v = std::max(0, y - reach); v <= std::min(h - 1, y + reach) && !stays[k]; ++v)
                for (int u = std::max(0, x - reach); u <= std::min(w - 1, x + reach); ++u) {
                    const int j = l[size_t(v) * w + u];
                    if (j && area[j] > maxArea) {
                        stays[k] = 1;
                        break;
                    }
                }
        }
    std::vector<uint8_t> out(size_t(w) * h);
    for (size_t i = 0; i < out.size(); ++i) out[i] = l[i] && stays[l[i]];
    return out;
}

std::vector<uint8_t> borderByRule(const Image *im, int minContact)
{
    const int w = im->width, h = im->height;
    std::vector<int> area;
    const auto l = floodLabels(im, area);
    // The edge pixels in order round the image, each once.
    std::vector<int> ring;
    for (int x = 0; x < w; ++x) ring.push_back(l[size_t(x)]);
    for (int y = 1; y < h; ++y) ring.push_back(l[size_t(y) * w + w - 1]);
    for (int x = w - 2; x >= 0 && h > 1; --x) ring.push_back(l[size_t(h - 1) * w + x]);
    for (int y = h - 2; y >= 1 && w > 1; --y) ring.push_back(l[size_t(y) * w]);
    // Each label's longest run of consecutive edge pixels, round the corner.
    std::vector<int> contact(area.size(), 0);
    const int n = int(ring.size());
    for (int i = 0; i < n; ++i) {
        int k = ring[i], len = 0;
        while (k && len < n && ring[(i + len) % n] == k) ++len;
        contact[k] = std::max(contact[k], len);
    }
    std::vector<uint8_t> out(size_t(w) * h);
    for (size_t i = 0; i < out.size(); ++i) out[i] = l[i] && contact[l[i]] < std::max(minContact, 1);
    return out;
}

std::vector<uint8_t> rulingsByRule(const Image *im, int minLength, int maxThickness)
{
    const int w = im->width, h = im->height;
    auto run = [&](int x, int y, int dx, int dy) {  // the run of set pixels through (x, y)
        int n = 1;
        for (int s : {-1, 1})
            for (int u = x + s * dx, v = y + s * dy; u >= 0 && v >= 0 && u < w && v < h && at(im, u, v);
                 u += s * dx, v += s * dy)
                ++n;
        return n;
    };
    std::vector<uint8_t> out(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (!at(im, x, y)) continue;
            const int across = run(x, y, 1, 0), down = run(x, y, 0, 1);
            const bool cleared = (across >= minLength && down <= maxThickness) ||
                                 (down >= minLength && across <= maxThickness);
            out[size_t(y) * w + x] = !cleared;
        }
    return out;
}

ImagePtr randomBinary(int w, int h, int percent, uint32_t seed)
{
    ImagePtr im(kxCreateImage(KIT_BIN, w, h));
    std::mt19937 rng(seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) im->data[size_t(y) * im->pitch + x] = int(rng() % 100) < percent;
    return im;
}

void box(Image *im, int x0, int y0, int bw, int bh, uint8_t v = 1)
{
    for (int y = y0; y < y0 + bh; ++y)
        for (int x = x0; x < x0 + bw; ++x) im->data[size_t(y) * im->pitch + x] = v;
}

// A grey page of text lines drawn by kxFillText (dark ink 0 on paper 255),
// turned clockwise by `angle` degrees (a skew of +angle).
ImagePtr textPage(int w, int h, int height, double angle, uint32_t seed)
{
    static const char *const words[] = {"the", "image", "library", "page", "skew", "angle", "of", "lines",
                                        "projection", "profile", "text", "document", "Quality", "a", "with"};
    std::mt19937 rng(seed);
    std::string text;
    for (int l = 0; l < h * 8 / 10 / (height * 3 / 2); ++l) {
        std::string line;
        while (line.size() < size_t(w * 7 / 10 / (height / 2 + 1))) line += std::string(words[rng() % 15]) + " ";
        text += line + "\n";
    }
    ImagePtr page(kxCreateImage(KIT_RGB, w, h));
    kxiFlood(page.get(), 255);
    kxFillText(page.get(), text.c_str(), w / 10, h / 10, height, 0xFF000000u);
    kxiCast(page.get(), KIT_GRAY);
    if (angle != 0) kxRotateE2(page.get(), -angle, 0xFFFFFFFFu, 0, 1);
    return page;
}

}  // namespace

TEST(ExtraCleanup, CleanersEqualTheirRulesOnRandomImages)
{
    // Densities around the percolation threshold give components of every
    // size; the parameters cover the limits' edges.
    uint32_t seed = 40;
    for (const auto &[w, h] : {std::pair{61, 47}, std::pair{1, 30}, std::pair{30, 1}, std::pair{128, 9}})
        for (int percent : {8, 30, 45}) {
            auto im = randomBinary(w, h, percent, seed++);
            SCOPED_TRACE(testing::Message() << w << " x " << h << ", " << percent << " %");
            for (const auto &[maxArea, nearArea, reach] :
                 {std::tuple{4, 0, 3}, std::tuple{12, 2, 0}, std::tuple{12, 2, 1}, std::tuple{30, 30, 5},
                  std::tuple{1, 0, 1}, std::tuple{0, 0, 4}, std::tuple{6, 0, -3}, std::tuple{9, 1, 1 << 30}}) {
                ImagePtr got(kxiClone(im.get(), nullptr));
                EXPECT_EQ(kxxRemoveSpecks(got.get(), maxArea, nearArea, reach), got.get());
                EXPECT_EQ(kxtest::pixels(got.get()), specksByRule(im.get(), maxArea, nearArea, std::max(reach, 0)))
                    << "specks " << maxArea << " " << nearArea << " " << reach;
            }
            for (int contact : {0, 1, 3, 20}) {
                ImagePtr got(kxiClone(im.get(), nullptr));
                kxxClearScanBorder(got.get(), contact);
                EXPECT_EQ(kxtest::pixels(got.get()), borderByRule(im.get(), contact)) << "border " << contact;
            }
            for (const auto &[len, thick] : {std::pair{2, 1}, std::pair{5, 2}, std::pair{9, 3}}) {
                ImagePtr got(kxiClone(im.get(), nullptr));
                kxxRemoveRulings(got.get(), len, thick);
                EXPECT_EQ(kxtest::pixels(got.get()), rulingsByRule(im.get(), len, thick)) << "rulings " << len;
            }
        }
}

TEST(ExtraCleanup, DrawnCasesKeepTextDotsEdgeLettersAndCrossingStrokes)
{
    // A letter (6 x 20), its period 3 pixels to the right, an i-dot 2 above
    // it, and a speck of the same size 40 pixels away.
    auto im = kxtest::makeImage(KIT_BIN, 100, 60);
    box(im.get(), 10, 20, 6, 20);
    box(im.get(), 19, 37, 3, 3);   // period
    box(im.get(), 11, 15, 3, 3);   // i-dot
    box(im.get(), 70, 10, 3, 3);   // speck
    box(im.get(), 60, 50, 1, 1);   // a single pixel within reach of nothing
    kxxRemoveSpecks(im.get(), 20, 0, 10);
    EXPECT_TRUE(at(im.get(), 20, 38) && at(im.get(), 12, 16));
    EXPECT_FALSE(at(im.get(), 71, 11) || at(im.get(), 60, 50));

    // A band of scan border along the left edge and round the corner, a
    // letter cut by the right edge, noise touching the bottom edge at every
    // other pixel: the band goes, the letter and the noise stay.
    auto page = kxtest::makeImage(KIT_BIN, 80, 60);
    box(page.get(), 0, 0, 5, 60);
    box(page.get(), 0, 0, 20, 3);
    box(page.get(), 74, 20, 6, 12);
    box(page.get(), 30, 55, 40, 3);
    for (int x = 30; x < 70; x += 2) box(page.get(), x, 58, 1, 2);
    kxxClearScanBorder(page.get(), 30);
    EXPECT_FALSE(at(page.get(), 2, 30) || at(page.get(), 15, 1));
    EXPECT_TRUE(at(page.get(), 79, 25) && at(page.get(), 40, 59));

    // A ruling line 2 thick crossed by a stroke 3 wide: the line goes, the
    // stroke stays whole.
    auto form = kxtest::makeImage(KIT_BIN, 120, 40);
    box(form.get(), 5, 20, 110, 2);
    box(form.get(), 50, 8, 3, 25);
    kxxRemoveRulings(form.get(), 50, 3);
    for (int y = 8; y < 33; ++y) EXPECT_TRUE(at(form.get(), 51, y)) << y;
    EXPECT_FALSE(at(form.get(), 20, 20) || at(form.get(), 100, 21));
}

TEST(ExtraCleanPage, KeepsTheDotsOfTextClearsSpecksAndReportsIt)
{
    // A 200 dpi page: 12 point text (33 pixels), dark specks of 3 x 3 in
    // the margins and between paragraphs.
    auto page = textPage(1654, 1169, 33, 0.0, 3);
    kxFillText(page.get(), "a b i. j, k; xi", 200, 1000, 33, 0xFF000000u);  // periods, commas, dots
    kxiCast(page.get(), KIT_GRAY);
    const std::pair<int, int> specks[] = {{40, 40}, {1600, 300}, {60, 1100}, {900, 1120}, {1500, 1130}};
    for (auto [x, y] : specks) box(page.get(), x, y, 3, 3, 20);
    ImagePtr binarized(kxiClone(page.get(), nullptr));
    KxxPageMeasures m{};
    kxxBinarizeDocumentEx(binarized.get(), 1, 0, &m);

    KxxCleanReport r;
    std::memset(&r, 0x55, sizeof r);
    ASSERT_EQ(kxxCleanPage(page.get(), 0, 0, &r), page.get());
    ASSERT_EQ(page->imageType, KIT_BIN);
    // Only pixels the binarizer set were cleared: the specks'.
    int lost = 0;
    for (int y = 0; y < page->height; ++y)
        for (int x = 0; x < page->width; ++x) {
            EXPECT_TRUE(!at(page.get(), x, y) || at(binarized.get(), x, y));
            lost += at(binarized.get(), x, y) && !at(page.get(), x, y);
        }
    for (auto [x, y] : specks) EXPECT_TRUE(at(binarized.get(), x + 1, y + 1) && !at(page.get(), x + 1, y + 1));
    EXPECT_EQ(r.specks, 5);
    EXPECT_EQ(r.speckPixels + r.borderPixels + r.linePixels, lost);
    EXPECT_EQ(std::tuple(r.angle, r.confidence, r.turned, r.dpiEstimated, r.strokeWidth, r.textHeight),
              std::tuple(0.0, 0.0, 0, 1, m.strokeWidth, m.textHeight));
    EXPECT_EQ(r.dpi, m.textHeight * 12);
    const int s = std::max(m.textHeight, 8);
    EXPECT_EQ(r.speckLimit, s * s / 12);
    // The dots of the drawn line all stayed: every binarized component there.
    ImagePtr line(kxiClone(binarized.get(), nullptr)), kept(kxiClone(page.get(), nullptr));
    kxClip(line.get(), 190, 990, 600, 1060);
    kxClip(kept.get(), 190, 990, 600, 1060);
    EXPECT_EQ(kxtest::pixels(kept.get()), kxtest::pixels(line.get()));
    // At 150 dpi, 10 point type in a monospaced face: the dots are smaller
    // than a stroke square, and a period sits most of a text height after
    // its word.  Every dot of the line stays.
    ImagePtr small(kxCreateImage(KIT_RGB, 700, 200));
    kxiFlood(small.get(), 255);
    for (int row = 0; row < 4; ++row)
        kxFillTextEx(small.get(), "It is in. A bit, as it is. Fin in.", 20, 20 + 40 * row, "Courier New", 21,
                     0xFF000000u, 0xFFFFFFFFu, KX_TEXT_TRANSPARENT);
    kxiCast(small.get(), KIT_GRAY);
    ImagePtr dark(kxiClone(small.get(), nullptr));
    kxbSimple(dark.get(), 128, 0);  // paper set: the dark pixels are the clear ones
    ASSERT_EQ(kxxCleanPage(small.get(), 150, 0, &r), small.get());
    int missed = 0;
    std::vector<uint8_t> seen(size_t(700) * 200, 0);
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 700; ++x) {
            if (at(dark.get(), x, y) || seen[size_t(y) * 700 + x]) continue;
            // A dark component of the drawn text: it must keep some ink.
            std::vector<std::pair<int, int>> stack{{x, y}}, comp;
            seen[size_t(y) * 700 + x] = 1;
            while (!stack.empty()) {
                auto [px, py] = stack.back();
                stack.pop_back();
                comp.push_back({px, py});
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int qx = px + dx, qy = py + dy;
                        if (qx < 0 || qy < 0 || qx >= 700 || qy >= 200 || at(dark.get(), qx, qy) ||
                            seen[size_t(qy) * 700 + qx])
                            continue;
                        seen[size_t(qy) * 700 + qx] = 1;
                        stack.push_back({qx, qy});
                    }
            }
            missed += std::none_of(comp.begin(), comp.end(), [&](auto p) { return at(small.get(), p.first, p.second); });
        }
    EXPECT_EQ(missed, 0);
    // With its dpi given, the limits follow the measured text all the same.
    auto again = textPage(400, 300, 33, 0.0, 3);
    ASSERT_EQ(kxxCleanPage(again.get(), 200, 0, &r), again.get());
    EXPECT_EQ(std::pair(r.dpi, r.dpiEstimated), std::pair(200, 0));
}

TEST(ExtraCleanPage, DarkScanBordersGoMottledMarginsKeepTheirText)
{
    // A solid dark band down the left and along the top (scanner lid), and
    // on a second page a mottled dark margin on the right with text in it.
    auto page = textPage(1240, 900, 23, 0.0, 11);
    for (int y = 0; y < 900; ++y)
        for (int x = 0; x < 1240; ++x)
            if (x < 45 || y < 30) page->data[size_t(y) * page->pitch + x] = 25;
    ImagePtr binarized(kxiClone(page.get(), nullptr));
    kxxBinarizeDocumentEx(binarized.get(), 1, 0, nullptr);
    KxxCleanReport r{};
    kxxCleanPage(page.get(), 0, 0, &r);
    int left = 0, kept = 0, found = 0;
    for (int y = 0; y < 900; ++y)
        for (int x = 0; x < 1240; ++x) {
            if (x < 60 || y < 45) left += at(page.get(), x, y);
            else if (at(binarized.get(), x, y)) ++found, kept += at(page.get(), x, y);
        }
    EXPECT_EQ(left, 0);  // the band and the line along its inner edge are gone
    EXPECT_GT(r.borderPixels, 0);
    EXPECT_GT(kept, found * 99 / 100);

    auto mottled = textPage(1240, 900, 23, 0.0, 12);
    std::mt19937 rng(3);
    for (int y = 0; y < 900; ++y)
        for (int x = 1000; x < 1240; ++x) {
            uint8_t &p = mottled->data[size_t(y) * mottled->pitch + x];
            if (int(rng() % 100) < (x - 1000) / 3) p = uint8_t(std::min<int>(p, 30));
        }
    ImagePtr ink(kxiClone(mottled.get(), nullptr));
    kxxBinarizeDocumentEx(ink.get(), 1, 0, nullptr);
    kxxCleanPage(mottled.get(), 0, 0, &r);
    EXPECT_EQ(r.borderPixels, 0);
}

TEST(ExtraCleanPage, TurnedPagesComeBackStraightAndPagesWithoutLinesStay)
{
    // A4 at 150 dpi, 11 point text; grey, colour and noisy pages.
    const double angles[] = {4.0, -4.0, 1.37, -0.6, 2.9, -3.25};
    uint32_t seed = 20;
    for (double angle : angles) {
        SCOPED_TRACE(testing::Message() << "angle " << angle);
        auto page = textPage(1240, 1754, 23, angle, seed++);
        if (seed % 2) kxiCast(page.get(), KIT_RGB);
        double found = 99, confidence = -1;
        ASSERT_EQ(kxxFindPageSkew(page.get(), &found, &confidence), 1);
        EXPECT_NEAR(found, angle, 0.05);
        KxxCleanReport r{};
        ASSERT_EQ(kxxCleanPage(page.get(), 150, KXX_CLEAN_TURN, &r), page.get());
        EXPECT_NEAR(r.angle, angle, 0.05);
        EXPECT_EQ(r.angle, found);  // the same search on the same clean page
        EXPECT_GT(r.confidence, 0.8);
        EXPECT_EQ(std::tuple(r.turned, page->imageType, page->width, page->height),
                  std::tuple(1, KIT_BIN, 1240, 1754));
        ASSERT_EQ(kxxFindSkew(page.get(), &found, &confidence), 1);
        EXPECT_NEAR(found, 0.0, 0.05);
    }
    // Discs of ink, a blank page: no text lines, no turn.
    auto blobs = kxtest::makeImage(KIT_GRAY, 900, 700);
    kxiFlood(blobs.get(), 235);
    std::mt19937 rng(5);
    for (int k = 0; k < 60; ++k) {
        const int cx = 40 + int(rng() % 820), cy = 40 + int(rng() % 620), rad = 5 + int(rng() % 30);
        for (int y = cy - rad; y <= cy + rad; ++y)
            for (int x = cx - rad; x <= cx + rad; ++x)
                if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= rad * rad) blobs->data[size_t(y) * blobs->pitch + x] = 40;
    }
    for (Image *im : {blobs.get(), kxtest::makeImage(KIT_GRAY, 300, 200, std::vector<uint8_t>(60000, 200)).release()}) {
        ImagePtr hold(im == blobs.get() ? nullptr : im);
        KxxCleanReport r{};
        ImagePtr unturned(kxiClone(im, nullptr));
        kxxCleanPage(unturned.get(), 0, 0, nullptr);
        ASSERT_EQ(kxxCleanPage(im, 0, KXX_CLEAN_TURN, &r), im);
        EXPECT_LT(r.confidence, 0.5);
        EXPECT_EQ(r.turned, 0);
        EXPECT_EQ(kxtest::pixels(im), kxtest::pixels(unturned.get()));  // cleaned where it lay
    }
    // kxxDeskewPage straightens a grey page over white paper.
    auto grey = textPage(1240, 1754, 23, -2.5, 9);
    double a = 0, c = 0;
    EXPECT_EQ(kxxDeskewPage(grey.get(), 0.5, &a, &c), grey.get());
    EXPECT_NEAR(a, -2.5, 0.05);
    EXPECT_EQ(std::pair(int(grey->data[0]), int(grey->data[grey->pitch - 1])), std::pair(255, 255));
    ASSERT_EQ(kxxFindPageSkew(grey.get(), &a, &c), 1);
    EXPECT_NEAR(a, 0.0, 0.05);
}

TEST(ExtraCleanPage, RefusalsChangeNothing)
{
    auto grey = kxtest::randomImage(KIT_GRAY, 40, 30, 1), bin = kxtest::randomImage(KIT_BIN, 40, 30, 1);
    const auto g = kxtest::pixels(grey.get()), b = kxtest::pixels(bin.get());
    KxxCleanReport r, untouched;
    std::memset(&r, 0x55, sizeof r);
    std::memset(&untouched, 0x55, sizeof untouched);
    for (const auto &[page, dpi, turn] : {std::tuple{grey.get(), -1, 1}, std::tuple{grey.get(), 10001, 0},
                                          std::tuple{grey.get(), 0, 4}, std::tuple{bin.get(), 0, 1}}) {
        EXPECT_EQ(kxxCleanPage(page, dpi, turn, &r), page);
        EXPECT_EQ(std::memcmp(&r, &untouched, sizeof r), 0);
    }
    EXPECT_EQ(kxtest::pixels(grey.get()), g);
    EXPECT_EQ(grey->imageType, KIT_GRAY);
    EXPECT_EQ(kxtest::pixels(bin.get()), b);
    EXPECT_EQ(kxxCleanPage(nullptr, 0, 1, &r), nullptr);
    EXPECT_EQ(kxxRemoveRulings(bin.get(), 1, 1), bin.get());
    EXPECT_EQ(kxxRemoveRulings(bin.get(), 5, 0), bin.get());
    EXPECT_EQ(kxxRemoveSpecks(grey.get(), 5, 0, 1), grey.get());
    EXPECT_EQ(kxxClearScanBorder(grey.get(), 1), grey.get());
    EXPECT_EQ(kxtest::pixels(bin.get()), b);
    EXPECT_EQ(kxtest::pixels(grey.get()), g);
    double a = -5, c = -5;
    EXPECT_EQ(kxxDeskewPage(grey.get(), NAN, &a, &c), grey.get());
    EXPECT_EQ(std::pair(a, c), std::pair(-5.0, -5.0));
    EXPECT_EQ(kxtest::pixels(grey.get()), g);
    EXPECT_EQ(sizeof(KxxCleanReport), 56u);
}

TEST(ExtraCleanPage, WrappedPagesKeepTheirPaddingAndEqualPackedOnes)
{
    for (int kit : {KIT_GRAY, KIT_RGB, KIT_RGBA}) {
        SCOPED_TRACE(kit);
        auto packed = textPage(300, 200, 20, 2.0, 7);
        kxiCast(packed.get(), kit);
        for (int turn : {0, 1, 3}) {
            ImagePtr a(kxiClone(packed.get(), nullptr));
            kxtest::PaddedImage wrapped(KIT_GRAY, 300, 200, {}, 3);
            ImagePtr grey(kxiClone(packed.get(), nullptr));
            kxiCast(grey.get(), KIT_GRAY);  // a wrapped colour page cannot turn grey in place: wrap the grey one
            for (int y = 0; y < 200; ++y) std::memcpy(wrapped.get()->data + size_t(y) * wrapped.get()->pitch,
                                                      grey->data + size_t(y) * grey->pitch, 300);
            KxxCleanReport ra{}, rb{};
            kxxCleanPage(a.get(), 0, turn, &ra);
            kxxCleanPage(wrapped.get(), 0, turn, &rb);
            EXPECT_EQ(kxtest::pixels(wrapped.get()), kxtest::pixels(a.get()));
            EXPECT_TRUE(wrapped.paddingIntact());
            EXPECT_EQ(std::memcmp(&ra, &rb, sizeof ra), 0);
        }
    }
    // A wrapped colour page cannot become grey in place: refused, unchanged.
    auto colour = textPage(60, 40, 12, 0.0, 1);
    kxiCast(colour.get(), KIT_RGB);
    kxtest::PaddedImage wrapped(KIT_RGB, 60, 40, kxtest::pixels(colour.get()), 3);
    KxxCleanReport r{};
    r.dpi = -7;
    EXPECT_EQ(kxxCleanPage(wrapped.get(), 0, 1, &r), wrapped.get());
    EXPECT_EQ(std::tuple(wrapped.get()->imageType, r.dpi), std::tuple(KIT_RGB, -7));
    EXPECT_EQ(kxtest::pixels(wrapped.get()), kxtest::pixels(colour.get()));
    EXPECT_TRUE(wrapped.paddingIntact());
}
