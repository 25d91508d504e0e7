// The image-file library on tests/data and round trips; arbitrary bytes are the fuzz harness's.
#include <unistd.h>

#include <fstream>
#include <numeric>

#include "kxio.h"
#include "kxtest.hpp"

namespace {

using namespace kxtest;

const std::string kData = KX_TEST_DATA "/";

std::string scratch(const std::string &name) { return testing::TempDir() + "kxio" + std::to_string(getpid()) + name; }

// The file's image, and its error text (a failure is reported unless the text is asked for).
ImagePtr read(const std::string &path, int page = 0, std::string *error = nullptr)
{
    char text[256] = "";
    ImagePtr im(kxioRead(path.c_str(), page, text, sizeof text));
    if (error) *error = text;
    else EXPECT_TRUE(im) << path << ": " << text;
    return im;
}

// The bytes of `im` written to a scratch file named `name`.
std::vector<uint8_t> written(const Image *im, const std::string &name, const KxioOptions *options = nullptr)
{
    const std::string path = scratch(name);
    char error[256] = "";
    EXPECT_TRUE(kxioWrite(im, path.c_str(), options, error, sizeof error)) << name << ": " << error;
    std::ifstream f(path, std::ios::binary);
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
    std::remove(path.c_str());
    return bytes;
}

ImagePtr readBytes(const std::vector<uint8_t> &b) { return ImagePtr(kxioReadMemory(b.data(), b.size(), 0, 0, 0)); }

// The corpus picture (make_corpus.py): g grey, G grey+alpha, c BGR, a BGRA, t palette+tRNS, b/1 bits.
std::vector<uint8_t> corpusPicture(char kind)
{
    std::vector<uint8_t> p;
    auto add = [&](std::initializer_list<int> bytes) { p.insert(p.end(), bytes.begin(), bytes.end()); };
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) {
            const int grey = (x * 60 + y * 20) % 256, b = 30 + x + y, g = 20 * y + 2, r = 10 * x + 1;
            const int alpha = 255 - 40 * x - 10 * y, bit = (x + y) % 2, trns = y || x > 1 ? 255 : 128 * x;
            kind == 'g' ? add({grey}) : kind == 'G' ? add({grey, grey, grey, alpha}) : kind == 'c' ? add({b, g, r})
            : kind == 'a' ? add({b, g, r, alpha}) : kind == 't' ? add({b, g, r, trns}) : kind == 'b' ? add({bit})
            : add({bit * 255});
        }
    return p;
}

TEST(ReadCorpus, EveryValidFileGivesThePicture)
{
    const struct { const char *file; int type; char kind; } cases[] = {
        {"grey.png", KIT_GRAY, 'g'}, {"grey16.png", KIT_GRAY, 'g'}, {"grey-alpha.png", KIT_RGBA, 'G'},
        {"rgb.png", KIT_RGB, 'c'}, {"rgb16.png", KIT_RGB, 'c'}, {"rgba.png", KIT_RGBA, 'a'},
        {"rgb-interlaced.png", KIT_RGB, 'c'}, {"palette.png", KIT_RGB, 'c'}, {"palette-trns.png", KIT_RGBA, 't'},
        {"grey1.png", KIT_GRAY, '1'}, {"grey.pgm", KIT_GRAY, 'g'}, {"grey-plain.pgm", KIT_GRAY, 'g'},
        {"grey16.pgm", KIT_GRAY, 'g'}, {"rgb.ppm", KIT_RGB, 'c'}, {"rgb-plain.ppm", KIT_RGB, 'c'},
        {"bits.pbm", KIT_BIN, 'b'}, {"bits-plain.pbm", KIT_BIN, 'b'}, {"grey.tif", KIT_GRAY, 'g'},
        {"rgb.tif", KIT_RGB, 'c'}, {"rgba.tif", KIT_RGBA, 'a'}, {"bits.tif", KIT_BIN, 'b'}};
    for (const auto &c : cases) {
        ImagePtr im = read(kData + c.file);
        EXPECT_TRUE(im && std::tuple(im->imageType, im->width, im->height, pixels(im.get())) ==
                              std::tuple(c.type, 4, 3, corpusPicture(c.kind))) << c.file;
    }
}

// Refused with a reason; sizes above the limit or data that cannot be there before reading pixels.  (A huge
// PNG, a short PGM, a missing file and page 1 of a PNG are tests/python's; a file of another kind tests/tools'.)
TEST(ReadCorpus, EveryMalformedFileIsRefusedWithAReason)
{
    const struct { const char *file, *says; int page = 0; } cases[] = {
        {"bad-truncated.png", "PNG"}, {"bad-crc.png", "CRC"}, {"bad-zero-width.png", "PNG"},
        {"bad-signature-only.png", "ends early"}, {"bad-idat-garbage.png", "PNG"}, {"bad-header.pgm", "header"},
        {"bad-maxval.pgm", "header"}, {"bad-huge.ppm", "limit"}, {"bad-sample.pgm", "sample"},
        {"bad-truncated.tif", "TIFF"}, {"bad-huge.tif", "limit"}, {"bad-small-for-size.tif", "ends early"},
        {"bad-strip-outside.tif", "TIFF"}, {"bad-header.tif", "TIFF"}, {"bad-markers.jpg", "JPEG"},
        {"bad-empty-after-soi.jpg", "JPEG"}, {"grey.tif", "no page 1", 1}};
    for (const auto &c : cases) {
        std::string error;
        EXPECT_FALSE(read(kData + c.file, c.page, &error)) << c.file;
        EXPECT_NE(error.find(c.says), std::string::npos) << c.file << ": " << error;
    }
    const std::pair<std::string, const char *> headers[] = {  // declared sizes far beyond the bytes there
        {"P5\n60000 4000\n255\n\x01\x02", "ends early"}, {"P2\n60000 4000\n255\n1 2 3", "ends early"}};
    for (const auto &[file, says] : headers) {
        char error[256] = "";
        EXPECT_FALSE(ImagePtr(kxioReadMemory(file.data(), file.size(), 0, error, sizeof error)));
        EXPECT_NE(std::string(error).find(says), std::string::npos) << error;
    }
}

// One round trip per format (every layout is tests/python's and tests/tools'): byte for byte, bilevel TIFF
// G4 coded, JPEG close at quality 95.
TEST(WriteRead, EveryFormatGivesTheImageBack)
{
    const struct { const char *name; int typeIn, typeOut; } cases[] = {
        {"a.png", KIT_RGBA, KIT_RGBA}, {"a.PPM", KIT_RGBA, KIT_RGB}, {"a.pbm", KIT_BIN, KIT_BIN}};
    for (const auto &c : cases) {
        ImagePtr in = randomImage(c.typeIn, 37, 11, 7), out = readBytes(written(in.get(), c.name));
        ImagePtr want(kxiClone(in.get(), nullptr));
        kxiCast(want.get(), c.typeOut);  // BIN 0/1 become grey 0/255, RGBA loses its alpha
        EXPECT_TRUE(out && std::tuple(out->imageType, out->width, out->height, pixels(out.get())) ==
                               std::tuple(c.typeOut, 37, 11, pixels(want.get()))) << c.name << " from " << c.typeIn;
    }
    ImagePtr page(kxCreateImage(KIT_BIN, 827, 1169));  // A4 at 100 dpi: 100 kB unpacked
    kxiFlood(page.get(), 1);
    for (int y = 500; y < 520; ++y) std::memset(page->data + y * page->pitch + 100, 0, 600);
    const std::vector<uint8_t> bytes = written(page.get(), "g4.tif");
    bool g4 = false;  // tag 259 (compression) with value 4 (CCITT G4)
    for (size_t i = 0; i + 10 <= bytes.size(); ++i)
        g4 = g4 || (bytes[i] == 0x03 && bytes[i + 1] == 0x01 && bytes[i + 2] == 3 && bytes[i + 8] == 4);
    EXPECT_TRUE(g4 && bytes.size() < 2000) << bytes.size();
    ImagePtr back = readBytes(bytes);
    EXPECT_TRUE(back && pixels(back.get()) == pixels(page.get()));
    std::vector<uint8_t> smooth;
    for (int i = 0; i < 64 * 48 * 3; ++i) smooth.push_back(uint8_t(2 * (i / 3 % 64) + i / 3 / 64 + 30 * (i % 3)));
    const KxioOptions q95 = {KXIO_AUTO, 95};
    ImagePtr jpeg = readBytes(written(makeImage(KIT_RGB, 64, 48, smooth).get(), "q95.jpg", &q95));
    ASSERT_TRUE(jpeg && jpeg->imageType == KIT_RGB);
    const std::vector<uint8_t> got = pixels(jpeg.get());
    const auto diff = [](int a, int b) { return std::abs(a - b); };
    EXPECT_LT(std::inner_product(got.begin(), got.end(), smooth.begin(), 0.0, std::plus<>(), diff) / got.size(), 1.5);
}

TEST(WriteRead, RefusedWritesSayWhyAndLeaveNoFile)
{
    const struct { const char *name; int format, quality; bool nullImage; const char *says; } cases[] = {
        {"noextension", KXIO_AUTO, 0, false, "cannot tell the file format"},
        {"x.jpg", KXIO_AUTO, 101, false, "quality 101"}, {"x.png", 9, 0, false, "unknown format code 9"},
        {"x.png", KXIO_AUTO, 0, true, "no usable image"}, {"x.pbm", KXIO_AUTO, 0, false, "PBM holds binary"}};
    ImagePtr im = randomImage(KIT_GRAY, 5, 5, 1);
    const Image *one[] = {im.get()};
    for (const auto &c : cases) {
        const std::string path = scratch(c.name);
        const KxioOptions options = {c.format, c.quality};
        char error[256] = "";
        EXPECT_FALSE(kxioWrite(c.nullImage ? nullptr : im.get(), path.c_str(), &options, error, sizeof error));
        EXPECT_NE(std::string(error).find(c.says), std::string::npos) << c.name << ": " << error;
        EXPECT_NE(access(path.c_str(), F_OK), 0) << c.name << " was left behind";
    }
    char error[256] = "";
    EXPECT_FALSE(kxioWritePages(one, 1, scratch("x.png").c_str(), nullptr, error, sizeof error));
    EXPECT_NE(std::string(error).find("only TIFF"), std::string::npos) << error;
}

TEST(Errors, TextIsCutToTheBufferAnyBufferMayBeNullAndNamesGiveFormats)
{
    char small[8];
    std::memset(small, 'x', sizeof small);
    EXPECT_TRUE(!kxioRead((kData + "bad-huge.ppm").c_str(), 0, small, sizeof small) && std::strlen(small) == 7);
    EXPECT_TRUE(!kxioRead((kData + "bad-huge.ppm").c_str(), 0, nullptr, 0) && !kxioRead(nullptr, 0, nullptr, 0) &&
                !kxioReadMemory(nullptr, 5, 0, nullptr, 0) && kxioPageCount((kData + "grey.png").c_str(), 0, 0) == 1);
    // Plain extensions are tests/python's (its writer asks the name's format): here a dot in a directory, case.
    EXPECT_TRUE(kxioFormatOfName("a/b.c/page.JPEG") == KXIO_JPEG && kxioFormatOfName("a.png/x") == 0 &&
                kxioFormatOfName(nullptr) == 0);
}

}  // namespace
