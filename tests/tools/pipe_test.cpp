// kxpipe: argument parsing, exit codes, the untouched output on failure,
// steps refused because they would do nothing, the operation table against
// the library's exports, and pipelines equal to the same calls made
// directly.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>

#include "kxextra.h"
#include "kxtest.hpp"
#include "pipe.hpp"
#include "tool_support.hpp"

using kxtest::makeImage;
using kxtest::pixels;
using kxtest::randomBytes;

namespace {

struct PipeRun {
    int code;
    std::string out, err;
};

PipeRun kxpipe(std::vector<std::string> args)
{
    args.insert(args.begin(), "kxpipe");
    std::ostringstream out, err;
    const int code = kxtools::runPipe(args, out, err);
    return {code, out.str(), err.str()};
}

std::vector<std::string> split(const std::string &s)
{
    std::vector<std::string> out;
    std::istringstream in(s);
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

// Parses `words`; "" when they parse, else the error (never empty).
std::string parseError(const std::string &words, std::vector<kxtools::Step> &steps)
{
    std::string error;
    return kxtools::parsePipeline(split(words), steps, error) ? "" : error.empty() ? "(no reason)" : error;
}

// Pairs of words and a part of the error they must give ("": they parse).
void expectParse(const std::vector<std::pair<std::string, std::string>> &cases)
{
    for (const auto &[words, part] : cases) {
        std::vector<kxtools::Step> steps;
        const std::string error = parseError(words, steps);
        EXPECT_TRUE(part.empty() ? error.empty() : error.find(part) != std::string::npos) << words << ": " << error;
    }
}

TEST(PipeParse, AcceptsWellFormedAndNamesTheFault)
{
    expectParse({
        {"", ""}, {"invert invert", ""}, {"clip 0 0 3 2 invert", ""}, {"clip 0x10 -5 2147483647 -2147483648", ""},
        {"replacepixels #FF0000 0xFFFFFFFF -", ""}, {"setpixele1 1,2,3,4 0 0 4294967295", ""},
        {"clip 010 0 3 2", ""},  // decimal, not octal
        {"frobnicate", "unknown operation 'frobnicate'"}, {"Invert", "unknown operation 'Invert'"},
        {"clip 0 0 3", "operation 'clip' needs bottom (integer)"},
        {"clip 0 0 3 x", "operation 'clip' bottom: 'x' is not an integer"}, {"clip 0 0 3 2.5", "is not an integer"},
        {"clip 0 0 3 2147483648", "is not an integer"}, {"clip 0 0 3 99999999999999999999", "is not an integer"},
        {"clip 0x 0 3 2", "is not an integer"}, {"clip --1 0 3 2", "is not an integer"},
        {"replacepixels 1 -1 -", "new_colour: '-1' is not a colour"},
        {"replacepixels 4294967296 1 -", "is not a colour"}, {"replacepixels #GG0000 1 -", "is not a colour"},
        {"setpixele1 1,2,3 0 0 1", "is not a point list"}, {"setpixele1 1,,2 0 0 1", "is not a point list"},
        {"setpixele1 1.5,2 0 0 1", "is not a point list"}, {"simple 256 0", "t: '256' is not an integer 0..255"},
        {"simple -1 0", "is not an integer 0..255"}, {"pixelmergee1 x.png 1 nan 0", "scale: 'nan' is not a number"},
        {"pixelmergee1 x.png 1 1e39 0", "is not a number"}, {"invert clip", "needs left"},
    });
}

// The point-list parser converted each item to int before its range check
// (1e12 was undefined behaviour) and refused -2147483648, which integer
// arguments accept: every integer now goes through one parser.
TEST(PipeParse, PointListOverflowIsRefusedBeforeConversionAndIntMinAccepted)
{
    expectParse({
        {"setpolyline 1e12,2 0", "points: '1e12,2' is not a point list"},
        {"setpolyline 1000000000000,2 0", "is not a point list"},
        {"setpolyline 2,-2147483649 0", "is not a point list"},
        {"setpixele1 2147483648,0 0 0 1", "is not a point list"}, {"setpolyline -2147483648,0,2147483647,1 0", ""},
        {"clip -2147483648 0 1 1", ""},
    });
    std::vector<kxtools::Step> steps;
    ASSERT_EQ(parseError("setpolyline -2147483648,0,0x10,-0x10 0", steps), "");
    EXPECT_EQ(steps[0].args.values[0].points, (std::vector<int>{std::numeric_limits<int>::min(), 0, 16, -16}));
}

TEST(PipeParse, ValuesAreConverted)
{
    std::vector<kxtools::Step> steps;
    ASSERT_EQ(parseError("replacepixels #102030 0x7F -  setpixele1 -1,2,3,-4 5 6 7", steps), "");
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[0].args.u(0), 0xFF102030u);
    EXPECT_EQ(steps[0].args.u(1), 0x7Fu);
    EXPECT_EQ(steps[1].args.count(0), 2);
    EXPECT_EQ(steps[1].args.values[0].points, (std::vector<int>{-1, 2, 3, -4}));
    ASSERT_EQ(parseError("clip 010 0x10 -0x10 -2147483648", steps), "");
    EXPECT_EQ((std::vector<int>{steps[0].args.i(0), steps[0].args.i(1), steps[0].args.i(2), steps[0].args.i(3)}),
              (std::vector<int>{10, 16, -16, std::numeric_limits<int>::min()}));

    kxtools::Value v;
    std::string error;
    const kxtools::Parameter quad{.name = "quad", .kind = 'q'}, element{.name = "element", .kind = 'E'};
    ASSERT_TRUE(kxtools::parseValue("1,2,3,4,5,6,7.5,8", quad, v, error));
    EXPECT_EQ(v.quad[6], 7.5f);
    EXPECT_FALSE(kxtools::parseValue("1,2,3,4,5,6", quad, v, error));
    ASSERT_TRUE(kxtools::parseValue("ellipse:5x3", element, v, error));
    ASSERT_TRUE(kxtools::loadValue(v, error));
    ASSERT_TRUE(v.element);
    EXPECT_EQ(std::pair(v.element->width, v.element->height), std::pair(5, 3));
    for (const char *bad : {"box:3x3", "rect:0x3", "rect:3", "rect3x3", "rect:3x3x3"})
        EXPECT_FALSE(kxtools::parseValue(bad, element, v, error)) << bad;
}

// Names are unique, argument kinds known, every export that works on one
// image is reachable (the others are named here with the reason), and the
// help lists every operation.
TEST(PipeTable, CoversTheExportsAndTheHelpListsThem)
{
    const std::set<std::string> notForOneImage = {
        "kxFilter",  // does nothing
        "kxCreateGaborBank", "kxDestroyGaborBank", "kxOrientationField", "kxFrequenceField",
        "kxGabor",  // placeholders without an image
    };
    const PipeRun help = kxpipe({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("usage: kxpipe"), std::string::npos);
    EXPECT_NE(help.out.find("  clip left top right bottom"), std::string::npos);
    EXPECT_NE(help.out.find("[kxInvert]"), std::string::npos);
    EXPECT_EQ(kxpipe({"-h"}).code, 0);
    std::set<std::string> names, reachable;
    for (const auto &op : kxtools::operations()) {
        EXPECT_TRUE(names.insert(op.name).second) << op.name;
        EXPECT_NE(help.out.find(op.name), std::string::npos) << op.name;
        EXPECT_NE(op.images, 0u) << op.name;
        reachable.insert(op.function);
        for (const auto &a : op.args) {
            EXPECT_FALSE(std::string(a.name).empty()) << op.name;
            EXPECT_NE(std::string("iufdspqICME").find(a.kind), std::string::npos) << op.name << " " << a.name;
        }
    }
    std::ifstream list(KX_EXPORTS_LIST);
    ASSERT_TRUE(list) << KX_EXPORTS_LIST;
    int count = 0;
    for (std::string name; list >> name; ++count)
        EXPECT_NE(reachable.count(name) != 0, notForOneImage.count(name) != 0) << name;
    EXPECT_GT(count, 100);
}

class PipeFiles : public testing::Test {
protected:
    tooltest::TempDir dir;
    kxtest::ImagePtr input = makeImage(KIT_GRAY, 6, 5, randomBytes(30, 3));
    kxtest::ImagePtr big = makeImage(KIT_GRAY, 40, 30, randomBytes(1200, 21));
    std::string in = dir.file("in.png"), bigIn = dir.file("big.png"), out = dir.file("out.png");

    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(kxtools::writeImage(input.get(), in, error)) << error;
        ASSERT_TRUE(kxtools::writeImage(big.get(), bigIn, error)) << error;
    }
    // The pixels of the output file, binary ones as written (0 or 255).
    std::vector<uint8_t> outputPixels()
    {
        std::string error;
        kxtools::ImagePtr im = kxtools::readImage(out, error);
        return im ? pixels(im.get()) : std::vector<uint8_t>{};
    }
    PipeRun run(const std::string &from, const std::string &steps)
    {
        std::vector<std::string> args{from, out};
        for (const auto &w : split(steps)) args.push_back(w);
        return kxpipe(args);
    }
};

TEST_F(PipeFiles, ExitCodesAndUntouchedOutput)
{
    tooltest::writeFile(dir.file("text.png"), "not an image");
    const struct {
        std::vector<std::string> args;
        int code;
        const char *message;
    } cases[] = {
        {{}, 2, "usage: kxpipe"},
        {{in}, 2, "usage: kxpipe"},
        {{"--bogus", in, out}, 2, "unknown option '--bogus'"},
        {{in, out, "--bogus", "invert"}, 2, "unknown option '--bogus'"},
        {{in, out, "nosuchop"}, 2, "unknown operation 'nosuchop'"},
        {{in, out, "invert", "--", "--time"}, 2, "unknown operation '--time'"},  // after "--" it is no option
        {{in, out, "clip", "1", "2"}, 2, "needs right"},
        {{in, out, "clip", "a", "0", "1", "1"}, 2, "'a' is not an integer"},
        {{dir.file("missing.png"), out, "invert"}, 1, "missing.png"},
        {{dir.file("text.png"), out, "invert"}, 1, "not a PNG, PNM, TIFF or JPEG file"},
        {{in, out, "pixeladd", dir.file("missing.png")}, 1, "missing.png"},
        {{in, dir.file("no/such/dir/out.png"), "invert"}, 1, "out.png"},
        // A bad argument is reported before the input is read.
        {{dir.file("missing.png"), out, "clip", "x", "0", "0", "0"}, 2, "is not an integer"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        tooltest::writeFile(out, "previous result");
        const PipeRun r = kxpipe(c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(tooltest::readFile(out), "previous result");
    }
    // Nothing but the files the test made is left in the directory.
    auto entries = dir.entries();
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{"big.png", "in.png", "out.png", "text.png"}));
}

// A step that would do nothing is refused (exit 2, the step named, the
// output untouched) unless --lenient is given; then the library's
// do-nothing result is written.  libkxextra's steps refuse as kxpre's do.
TEST_F(PipeFiles, StepsThatWouldDoNothingAreRefusedUnlessLenient)
{
    std::string error;
    ASSERT_TRUE(kxtools::writeImage(makeImage(KIT_GRAY, 2, 2).get(), dir.file("small.png"), error)) << error;
    ASSERT_TRUE(kxtools::writeImage(makeImage(KIT_RGBA, 6, 5).get(), dir.file("colour.png"), error)) << error;
    const std::pair<std::string, const char *> cases[] = {
        {"thinning", "step 1 (thinning): works on binary images, not grey"},
        {"invert rgb otsu -", "step 3 (otsu): works on grey images, not B,G,R colour"},
        {"median -5", "step 1 (median): window_size must be at least 2 (got -5)"},
        {"multilevel 1", "levels must be 2..256 (got 1)"},
        {"flip 3", "mode must be 0..2 (got 3)"},
        {"pixelmerge " + in + " 1203", "code must be one of 1204, 1205"},
        {"scale -1 3", "step 1 (scale): needs factor > 0 (got factor -1)"},
        {"clip 4 0 1 3", "needs right >= left (got right 1, left 4)"},
        {"fill 6 0 9", "needs x < width (got x 6, width 6)"},
        {"setpolyline 1,1 9", "points needs at least 2 points (got 1)"},
        {"detectedge 0 0 0 " + dir.file("small.png"), "mask must have the size of the image, 6 x 5 (got 2 x 2)"},
        {"rgb linearex 0 2 0", "channels must be 1..15 (got 0)"},
        {"rgb replacechannel " + dir.file("colour.png") + " 1", "channel must be a binary or grey or B,G,R colour"},
        {"sauvola 5 0.2 0", "step 1 (sauvola): needs r > 0.0 (got r 0)"},
        {"bin despeckle 6 3", "connectivity must be one of 4, 8"},
        {"despeckle 8 3", "step 1 (despeckle): works on binary images, not grey"},
        {"clahe 0 8 2", "tiles_x must be 1..256 (got 0)"},
        {"level - 5", "selector must be 0..4 (got 5)"},
        {"findskew", "works on binary images, not grey"},
    };
    for (const auto &[steps, message] : cases) {
        SCOPED_TRACE(steps);
        tooltest::writeFile(out, "previous result");
        const PipeRun strict = run(in, steps);
        EXPECT_EQ(strict.code, 2);
        EXPECT_NE(strict.err.find(message), std::string::npos) << strict.err;
        EXPECT_NE(strict.err.find("--lenient"), std::string::npos) << strict.err;
        EXPECT_EQ(tooltest::readFile(out), "previous result");
        EXPECT_EQ(run(in, steps + " --lenient").code, 0);
    }
}

// Each pipeline writes what the same calls made directly give (binary
// images are written black and white) and prints nothing.
TEST_F(PipeFiles, PipelinesEqualTheDirectCalls)
{
    const std::pair<const char *, void (*)(Image *)> cases[] = {
        {"invert clip 1 1 4 3 bin", [](Image *im) { kxInvert(im), kxClip(im, 1, 1, 4, 3), kxiCast(im, KIT_BIN); }},
        {"sauvola 5 0.34 128", [](Image *im) { kxxLocalThreshold(im, KXX_SAUVOLA, 5, 0.34, 128.0); }},
        {"niblack 7 -0.2", [](Image *im) { kxxLocalThreshold(im, KXX_NIBLACK, 7, -0.2, 127.5); }},
        {"clahe 3 2 2.0", [](Image *im) { kxxClahe(im, 3, 2, 2.0); }},
        {"bin despeckle 8 3", [](Image *im) { kxiCast(im, KIT_BIN), kxxDespeckle(im, 8, 3); }},
        {"bin keeplargest 4 2", [](Image *im) { kxiCast(im, KIT_BIN), kxxKeepLargest(im, 4, 2); }},
        {"bin markstrokepoints", [](Image *im) { kxiCast(im, KIT_BIN), kxxMarkStrokePoints(im); }},
        {"bin deskew 0 1", [](Image *im) { kxiCast(im, KIT_BIN), kxxDeskew(im, 0.0, 1, nullptr); }},
    };
    for (const auto &[steps, direct] : cases) {
        SCOPED_TRACE(steps);
        const PipeRun r = run(bigIn, steps);
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.out + r.err, "");
        kxtest::ImagePtr expected(kxiClone(big.get(), nullptr));
        direct(expected.get());
        std::vector<uint8_t> want = pixels(expected.get());
        if (expected->imageType == KIT_BIN)
            for (auto &b : want) b = b ? 255 : 0;
        EXPECT_EQ(outputPixels(), want);
    }
    // pixeladd with the input itself doubles every value (saturated).
    ASSERT_EQ(run(in, "pixeladd " + in).code, 0);
    std::vector<uint8_t> doubled = pixels(input.get());
    for (auto &b : doubled) b = uint8_t(std::min(255, 2 * b));
    EXPECT_EQ(outputPixels(), doubled);
    // A colour second image is converted to the grey input's type.
    std::string error;
    ASSERT_TRUE(kxtools::writeImage(makeImage(KIT_RGB, 6, 5).get(), dir.file("black.png"), error));
    EXPECT_EQ(run(in, "pixelsmall " + dir.file("black.png")).code, 0);
    EXPECT_EQ(outputPixels(), std::vector<uint8_t>(30, 0));
}

// Queries print what the call returns on the report stream; other results
// (kxScale's status) are not printed.
TEST_F(PipeFiles, OnlyQueriesPrint)
{
    PipeRun r = run(bigIn, "scale 0.5 2 getpixel 0 0");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.rfind("getpixel: ", 0), 0u) << r.out;
    EXPECT_EQ(r.out.find("scale"), std::string::npos) << r.out;
    std::string error;
    kxtools::ImagePtr scaled = kxtools::readImage(out, error);
    ASSERT_TRUE(scaled) << error;
    EXPECT_EQ(std::pair(scaled->width, scaled->height), std::pair(20, 15));

    r = run(bigIn, "level - 3 bin findskew");
    ASSERT_EQ(r.code, 0) << r.err;
    kxtest::ImagePtr bin(kxiClone(big.get(), nullptr));
    ASSERT_TRUE(kxiCast(bin.get(), KIT_BIN));
    double angle = 99, confidence = 99;
    ASSERT_EQ(kxxFindSkew(bin.get(), &angle, &confidence), 1);
    const std::string head = "level: " + std::to_string(kxxLevel(big.get(), nullptr, KXX_MAX_ENTROPY)) + "\nfindskew: ";
    ASSERT_EQ(r.out.rfind(head, 0), 0u) << r.out;
    // The values as the shortest text that reads back the same double.
    double a = -1, k = -1;
    ASSERT_EQ(std::sscanf(r.out.c_str() + head.size(), "%lf %lf", &a, &k), 2) << r.out;
    EXPECT_EQ(std::pair(a, k), std::pair(angle, confidence));
}

TEST_F(PipeFiles, OptionsStandAnywhereTimingGoesToStderrAndVersionIsTheProjects)
{
    EXPECT_EQ(kxpipe({in, "--time", out, "invert", "--lenient", "median", "-5"}).code, 0);
    EXPECT_EQ(kxpipe({in, out, "invert", "--help"}).code, 0);
    const PipeRun t = kxpipe({"--time", in, dir.file("out.pgm"), "invert"});
    ASSERT_EQ(t.code, 0) << t.err;
    EXPECT_NE(t.err.find("invert"), std::string::npos);
    EXPECT_NE(t.err.find(" ms "), std::string::npos);
    EXPECT_EQ(tooltest::readFile(dir.file("out.pgm")).substr(0, 9), "P5\n6 5\n25");
    const PipeRun v = kxpipe({"--version"});
    EXPECT_EQ(v.code, 0);
    EXPECT_EQ(v.out, std::string("kxpipe ") + KX_VERSION + "\n");
}

// Steps built around records or caller arrays.
TEST(PipeSteps, DistanceMapAndFloodFill)
{
    // A 7 x 7 square (the frame of the image is no source of distance).
    std::vector<uint8_t> square(121);
    for (size_t i = 0; i < square.size(); ++i) square[i] = i / 11 >= 2 && i / 11 < 9 && i % 11 >= 2 && i % 11 < 9;
    kxtools::ImagePtr im(kxCreateImage(KIT_BIN, 11, 11));
    kxiFloodEx(im.get(), square.data(), square.size());
    const kxtools::StepResult r = kxtools::applyOperation(im, "disttrans", {});
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(im->imageType, KIT_GRAY);
    EXPECT_GT(kxGetPixel(im.get(), 5, 5), kxGetPixel(im.get(), 2, 5));  // deeper inside, farther
    EXPECT_GT(kxGetPixel(im.get(), 2, 5), 0u);
    EXPECT_EQ(kxGetPixel(im.get(), 1, 5), 0u);

    kxtools::ImagePtr grey(kxCreateImage(KIT_GRAY, 6, 4));
    const kxtools::StepResult f = kxtools::applyOperation(grey, "floodfill", {"0", "0", "200", "0", "0", "4", "0"});
    ASSERT_TRUE(f.ok) << f.message;
    EXPECT_EQ(f.message, "24");  // the whole uniform image
    EXPECT_EQ(pixels(grey.get()), std::vector<uint8_t>(24, 200));
}

}  // namespace
