// Image files through the tools' layer over libkxio (whose formats tests/io
// covers): padded images written without their padding, messages that name
// the file, and the atomic write.
#include <sys/stat.h>

#include "imageio.hpp"
#include "kxtest.hpp"
#include "tool_support.hpp"

using kxtest::makeImage;
using kxtest::pixels;
using kxtest::randomBytes;

namespace {

TEST(ImageFiles, PaddedImagesSurviveARoundTrip)
{
    const struct {
        int type;
        const char *file;
        int readType;  // the type the file reads back as
    } cases[] = {{KIT_BIN, "a.png", KIT_GRAY}, {KIT_RGB, "a.png", KIT_RGB}, {KIT_RGBA, "a.pnm", KIT_RGB},
                 {KIT_BIN, "a.tif", KIT_BIN}, {KIT_RGBA, "a.tiff", KIT_RGBA}};
    tooltest::TempDir dir;
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.file) + " type " + std::to_string(c.type));
        const int w = 13, h = 7;  // odd sizes: rows of 39 bytes for RGB
        const auto bytes = randomBytes(size_t(w) * h * kxiBytesPerPixel(c.type), 11, 0, c.type == KIT_BIN ? 1 : 255);
        kxtest::PaddedImage in(c.type, w, h, bytes, 3);  // padding must not reach the file
        std::string error;
        ASSERT_TRUE(kxtools::writeImage(in.get(), dir.file(c.file), error)) << error;
        kxtools::ImagePtr back = kxtools::readImage(dir.file(c.file), error);
        ASSERT_TRUE(back) << error;
        EXPECT_EQ(std::tuple(back->imageType, back->width, back->height), std::tuple(c.readType, w, h));
        std::vector<uint8_t> expected;
        for (size_t i = 0; i < bytes.size(); ++i)  // binary becomes 0/255 grey; PPM drops alpha
            if (c.type != KIT_RGBA || c.readType != KIT_RGB || i % 4 != 3)
                expected.push_back(c.type == KIT_BIN && c.readType != KIT_BIN && bytes[i] ? 255 : bytes[i]);
        EXPECT_EQ(pixels(back.get()), expected);
    }
}

// Forms the corpus of tests/data lacks (a comment between header lines, a
// maxval below 255), and a refusal naming the file.
TEST(ImageFiles, PnmFormsAndRefusals)
{
    const std::pair<std::string, std::vector<uint8_t>> cases[] = {
        {"P2 # a comment\n3 1\n# another\n255\n0 128 255\n", {0, 128, 255}}, {"P2\n2 1\n15\n15 5\n", {255, 85}}};
    tooltest::TempDir dir;
    std::string error;
    for (const auto &[bytes, expected] : cases) {
        tooltest::writeFile(dir.file("f"), bytes);
        kxtools::ImagePtr im = kxtools::readImage(dir.file("f"), error);
        ASSERT_TRUE(im) << error;
        EXPECT_EQ(pixels(im.get()), expected) << bytes;
    }
    EXPECT_FALSE(kxtools::readImage("/nonexistent/dir/x.png", error));
    EXPECT_NE(error.find("/nonexistent/dir/x.png: No such file"), std::string::npos) << error;
}

TEST(ImageFiles, AtomicWriteReplacesOnlyWhenComplete)
{
    tooltest::TempDir dir;
    const std::string target = dir.file("out.png");
    tooltest::writeFile(target, "old contents");
    std::string error;
    // Nothing to write, no format for the name, or no such directory: the
    // target stays and no temporary file is left.
    Image broken{};
    EXPECT_FALSE(kxtools::writeImageAtomic(&broken, target, error));
    auto im = makeImage(KIT_GRAY, 4, 3, randomBytes(12, 5));
    EXPECT_FALSE(kxtools::writeImageAtomic(im.get(), dir.file("missing/out.png"), error));
    EXPECT_FALSE(kxtools::writeImageAtomic(im.get(), dir.file("x.bmp"), error));
    EXPECT_NE(error.find(dir.file("x.bmp") + ": cannot tell the file format"), std::string::npos) << error;
    EXPECT_EQ(tooltest::readFile(target), "old contents");
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"out.png"});
    ASSERT_TRUE(kxtools::writeImageAtomic(im.get(), target, error)) << error;
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"out.png"});
    kxtools::ImagePtr back = kxtools::readImage(target, error);
    ASSERT_TRUE(back);
    EXPECT_EQ(pixels(back.get()), pixels(im.get()));
    struct stat st {};
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask) << "the permissions of an ordinary new file";
}

}  // namespace
