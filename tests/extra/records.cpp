// What every export promises about its records and arguments: wrapped
// images with padded rows give the packed result and keep their padding;
// broken records, images of another type and refused arguments change no
// memory and no output.
#include <climits>
#include <cmath>
#include <functional>

#include "kxextra.h"
#include "kxtest.hpp"

namespace {

constexpr int W = 23, H = 19;

// Everything the exports write besides the image, filled with a sentinel.
struct Outputs {
    std::vector<int32_t> labels = std::vector<int32_t>(W * H, -5);
    std::vector<double> levels = std::vector<double>(W * H, -5);
    std::vector<int16_t> gx = std::vector<int16_t>(W * H, -5), gy = gx;
    std::vector<uint16_t> mag = std::vector<uint16_t>(W * H, 5);
    std::vector<int> points = std::vector<int>(2 * W * H, -5), thresholds = std::vector<int>(3, -5);
    double angle = -5, confidence = -5, turned = -5;
    bool operator==(const Outputs &) const = default;
};

// Every export with arguments it accepts, on an image of the type it takes;
// `refusal` is what it returns when it refuses (1: the image came back).
struct Export {
    const char *name;
    int kit;
    double refusal;
    std::function<double(Image *, Outputs &)> run;
};

const Export kExports[] = {
    {"label", KIT_BIN, -1, [](Image *im, Outputs &o) { return kxxLabel(im, 4, o.labels.data()); }},
    {"despeckle", KIT_BIN, 1, [](Image *im, Outputs &) { return double(kxxDespeckle(im, 8, 3) == im); }},
    {"keep largest", KIT_BIN, 1, [](Image *im, Outputs &) { return double(kxxKeepLargest(im, 4, 2) == im); }},
    {"stroke points", KIT_BIN, -1,
     [](Image *im, Outputs &o) { return kxxStrokePoints(im, 7, o.points.data(), W * H); }},
    {"mark stroke points", KIT_BIN, 1, [](Image *im, Outputs &) { return double(kxxMarkStrokePoints(im) == im); }},
    {"level", KIT_GRAY, -1, [](Image *im, Outputs &) { return kxxLevel(im, nullptr, KXX_OTSU); }},
    {"isodata level", KIT_GRAY, -1, [](Image *im, Outputs &) { return kxxIsoDataLevel(im, 10, 3); }},
    {"multi levels", KIT_GRAY, -1, [](Image *im, Outputs &o) { return kxxMultiLevels(im, 4, o.thresholds.data()); }},
    {"local levels", KIT_GRAY, 0,
     [](Image *im, Outputs &o) { return kxxLocalLevels(im, KXX_WOLF, 9, 0.5, 0, o.levels.data()); }},
    {"local threshold", KIT_GRAY, 1,
     [](Image *im, Outputs &) { return double(kxxLocalThreshold(im, KXX_SAUVOLA, 11, 0.3, 128) == im); }},
    {"gradient", KIT_GRAY, 0,
     [](Image *im, Outputs &o) {
         return kxxGradient(im, KXX_SCHARR, KXX_L2, o.gx.data(), o.gy.data(), o.mag.data(), nullptr, nullptr);
     }},
    {"clahe", KIT_GRAY, 1, [](Image *im, Outputs &) { return double(kxxClahe(im, 3, 2, 2) == im); }},
    {"find skew", KIT_BIN, 0, [](Image *im, Outputs &o) { return kxxFindSkew(im, &o.angle, &o.confidence); }},
    {"deskew", KIT_BIN, 1, [](Image *im, Outputs &o) { return double(kxxDeskew(im, 0, 1, &o.turned) == im); }},
    {"remove specks", KIT_BIN, 1, [](Image *im, Outputs &) { return double(kxxRemoveSpecks(im, 3, 1, 2) == im); }},
    {"clear scan border", KIT_BIN, 1, [](Image *im, Outputs &) { return double(kxxClearScanBorder(im, 2) == im); }},
    {"remove rulings", KIT_BIN, 1, [](Image *im, Outputs &) { return double(kxxRemoveRulings(im, 3, 1) == im); }},
};

}  // namespace

TEST(ExtraRecords, WrappedImagesKeepTheirPaddingAndBrokenRecordsAndOtherTypesAreRefused)
{
    // The record rules are kxpre's (tests/frame, the fuzz harness); here each
    // export must apply them, with breaks its own type check would pass.
    const std::pair<const char *, std::function<void(Image &)>> broken[] = {
        {"nothing broken, another type", [](Image &) {}},
        {"null data", [](Image &im) { im.data = nullptr; }},
        {"pitch below width", [](Image &im) { im.pitch = im.width - 1; }},
        {"pitch * height of 2^31", [](Image &im) { im.pitch = INT32_MAX / 2 + 1, im.height = 2; }},
    };
    uint32_t seed = 1;
    for (const auto &e : kExports) {
        SCOPED_TRACE(e.name);
        // The padding's sentinel is non-zero: read as pixels it would join
        // components, turn edge pixels into stroke points and shift sums.
        auto packed = kxtest::randomImage(e.kit, W, H, seed++);
        kxtest::PaddedImage wrapped(e.kit, W, H, kxtest::pixels(packed.get()), 3);
        Outputs a, b;
        EXPECT_EQ(e.run(wrapped.get(), a), e.run(packed.get(), b));
        EXPECT_TRUE(a == b && wrapped.paddingIntact());
        EXPECT_EQ(wrapped.get()->imageType, packed->imageType);
        EXPECT_EQ(kxtest::pixels(wrapped.get()), kxtest::pixels(packed.get()));
        for (const auto &[how, breakIt] : broken)
            for (int kit : {KIT_BIN, KIT_GRAY, KIT_RGB}) {
                if (kit == e.kit && how == broken[0].first) continue;
                SCOPED_TRACE(testing::Message() << "a record with " << how << " on type " << kit);
                auto owner = kxtest::randomImage(kit, W, H, 1);
                const auto before = kxtest::pixels(owner.get());
                Image im = *owner;
                breakIt(im);
                const Image record = im;
                Outputs o;
                EXPECT_EQ(e.run(&im, o), e.refusal);
                EXPECT_TRUE(o == Outputs());
                EXPECT_TRUE(im.imageType == record.imageType && im.type == record.type);
                EXPECT_EQ(kxtest::pixels(owner.get()), before);
                // A mask may have any type; its memory must be addressable.
                const bool mask =
                    std::string(e.name) == "level" && kit == KIT_GRAY && (!im.data || im.pitch != owner->pitch);
                EXPECT_TRUE(!mask || kxxLevel(owner.get(), &im, KXX_OTSU) == -1) << "as the mask";
            }
    }
}

TEST(ExtraRecords, RefusedArgumentsChangeNoImageAndNoOutput)
{
    auto grey = kxtest::randomImage(KIT_GRAY, W, H, 2), bin = kxtest::randomImage(KIT_BIN, W, H, 2);
    Image *g = grey.get(), *b = bin.get();
    const auto gBefore = kxtest::pixels(g), bBefore = kxtest::pixels(b);
    Outputs o;
    std::vector<int32_t> hist(256, 1);
    hist[17] = -1;
    const std::pair<const char *, std::function<bool()>> calls[] = {
        {"label connectivity 6", [&] { return kxxLabel(b, 6, o.labels.data()) == -1; }},
        {"despeckle connectivity 5", [&] { return kxxDespeckle(b, 5, 100) == b; }},
        {"level selector 5", [&] { return kxxLevel(g, nullptr, 5) == -1; }},
        {"histogram with a negative count", [&] { return kxxHistogramLevel(hist.data(), KXX_OTSU) == -1; }},
        {"multi levels 1", [&] { return kxxMultiLevels(g, 1, o.thresholds.data()) == -1; }},
        {"local method 4", [&] { return kxxLocalThreshold(g, 4, 3, 0.2, 0) == g; }},
        {"local window above 65535",
         [&] { return kxxLocalLevels(g, KXX_NIBLACK, 65536, 0.2, 0, o.levels.data()) == 0; }},
        {"local k NaN", [&] { return kxxLocalThreshold(g, KXX_BRADLEY, 3, NAN, 0) == g; }},
        {"Sauvola r 0", [&] { return kxxLocalThreshold(g, KXX_SAUVOLA, 3, 0.2, 0) == g; }},
        {"gradient op 2",
         [&] { return kxxGradient(g, 2, KXX_L1, o.gx.data(), nullptr, nullptr, nullptr, nullptr) == 0; }},
        {"gradient norm 3",
         [&] { return kxxGradient(g, KXX_SOBEL, 3, nullptr, nullptr, o.mag.data(), nullptr, nullptr) == 0; }},
        {"clahe 257 tiles", [&] { return kxxClahe(g, 8, 257, 2) == g; }},
        {"clahe limit NaN", [&] { return kxxClahe(g, 8, 8, NAN) == g; }},
    };
    for (const auto &[name, refused] : calls) EXPECT_TRUE(refused()) << name;
    EXPECT_TRUE(o == Outputs() && g->imageType == KIT_GRAY && b->imageType == KIT_BIN);
    EXPECT_TRUE(kxtest::pixels(g) == gBefore && kxtest::pixels(b) == bBefore);
    for (const auto &e : kExports) EXPECT_TRUE(e.refusal != 1 || e.run(nullptr, o) == 1) << e.name;  // null: null back
    // A null the caller must not pass: debug builds abort, release builds report.
    EXPECT_KX_ASSERT(EXPECT_EQ(kxxLabel(nullptr, 4, o.labels.data()), -1), "image && labels");
    EXPECT_KX_ASSERT(EXPECT_EQ(kxxComponentStats(nullptr, 4, 3, 3, nullptr), 0), "labels && stats");
    EXPECT_KX_ASSERT(EXPECT_EQ(kxxStrokePoints(b, 1, nullptr, 2), -1), "points || capacity <= 0");
    EXPECT_KX_ASSERT(EXPECT_EQ(kxxStrokePoints(nullptr, 1, o.points.data(), 2), -1), "skeleton");
    EXPECT_KX_ASSERT(EXPECT_EQ(kxxLevel(nullptr, nullptr, 0), -1), "image");
    EXPECT_KX_ASSERT(EXPECT_EQ(kxxMultiLevels(g, 3, nullptr), -1), "image && thresholds");
    EXPECT_KX_ASSERT(EXPECT_EQ(kxxHistogramLevel(nullptr, 0), -1), "histogram");
    EXPECT_KX_ASSERT(EXPECT_EQ(kxxLocalLevels(g, KXX_NIBLACK, 3, 0.2, 0, nullptr), 0), "image && levels");
    EXPECT_KX_ASSERT(EXPECT_EQ(kxxFindSkew(b, nullptr, &o.confidence), 0), "image && angle && confidence");
}
