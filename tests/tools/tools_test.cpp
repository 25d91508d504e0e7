// The tools' shared code: kxpipe's argument parsing, exit codes, the
// untouched output on failure, steps refused because they would do nothing,
// the operation table against the library's exports, what only the tool does
// (pipelines, queries, options; tests/python compares every single step with
// the binding's call), and image files through the tools' layer over libkxio
// (whose formats tests/io covers).
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>

#include "imageio.hpp"
#include "kxio.h"
#include "kxextra.h"
#include "kxtest.hpp"
#include "pipe.hpp"

using kxtest::makeImage;
using kxtest::pixels;
using kxtest::randomBytes;

namespace {

// A scratch directory per test, removed with everything in it.
struct TempDir {
    std::string path = (std::filesystem::temp_directory_path() / "kxtools-XXXXXX").string();
    std::error_code removal;
    TempDir() { EXPECT_TRUE(mkdtemp(path.data())) << path; }
    ~TempDir() { std::filesystem::remove_all(path, removal); }
    std::string file(const std::string &name) const { return path + "/" + name; }
};

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
void writeFile(const std::string &path, const std::string &bytes) { std::ofstream(path, std::ios::binary) << bytes; }

struct PipeRun { int code; std::string out, err; };

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

// Each kind of word as it is read (its refusals: the failure table below).
TEST(PipeParse, ValuesAreConvertedAndPointListsTakeIntMin)
{
    std::vector<kxtools::Step> steps;
    ASSERT_EQ(parseError("setpolyline -2147483648,0,0x10,-0x10 0", steps), "");
    EXPECT_EQ(steps[0].args.values[0].points, (std::vector<int>{std::numeric_limits<int>::min(), 0, 16, -16}));
    ASSERT_EQ(parseError("replacepixels #102030 0x7F -  setpixele1 -1,2,3,-4 5 6 4294967295", steps), "");
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(std::tuple(steps[0].args.u(0), steps[0].args.u(1), steps[1].args.u(3)),
              std::tuple(0xFF102030u, 0x7Fu, 0xFFFFFFFFu));
    EXPECT_EQ(steps[1].args.count(0), 2);
    ASSERT_EQ(parseError("clip 010 0x10 2147483647 -2147483648", steps), "");  // 010 is decimal, not octal
    EXPECT_EQ((std::vector<int>{steps[0].args.i(0), steps[0].args.i(1), steps[0].args.i(2), steps[0].args.i(3)}),
              (std::vector<int>{10, 16, std::numeric_limits<int>::max(), std::numeric_limits<int>::min()}));
    EXPECT_EQ(parseError("", steps), "");
    ASSERT_EQ(parseError("dilate ellipse:5x3", steps), "");
    std::string error;
    ASSERT_TRUE(kxtools::loadValue(steps[0].args.values[0], error)) << error;
    const Mask *element = steps[0].args.values[0].element.get();
    EXPECT_TRUE(element && element->width == 5 && element->height == 3);
}

// The help shows each step with its arguments and export (the steps
// themselves are the manifest's, generated).
TEST(PipeTable, TheHelpListsTheSteps)
{
    const PipeRun help = kxpipe({"-h"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("  clip left top right bottom"), std::string::npos);
    EXPECT_NE(help.out.find("[kxInvert]"), std::string::npos);
}

class PipeFiles : public testing::Test {
protected:
    TempDir dir;
    kxtest::ImagePtr input = makeImage(KIT_GRAY, 6, 5, randomBytes(30, 3));
    std::string in = dir.file("in.png"), out = dir.file("out.png");

    void SetUp() override { save(input.get(), "in.png"); }
    void save(const Image *im, const std::string &name)
    {
        std::string error;
        ASSERT_TRUE(kxtools::writeImage(im, dir.file(name), error)) << error;
    }
    // The pixels of the output file, binary ones as written (0 or 255).
    std::vector<uint8_t> outputPixels()
    {
        std::string error;
        kxtools::ImagePtr im = kxtools::readImage(out, error);
        return im ? pixels(im.get()) : std::vector<uint8_t>{};
    }
    PipeRun run(const std::string &steps) { return kxpipe(split(in + " " + out + " " + steps)); }
};

// Exit 2 for bad words (one row per way a word can fail its kind) and steps
// that would do nothing (run anyway with --lenient), 1 for unreadable or
// unwritable files; the output stays as it was and no other file (such as
// the atomic write's temporary one) is left.
TEST_F(PipeFiles, FailuresGiveTheirExitCodeAndLeaveTheOutputAlone)
{
    writeFile(dir.file("text.png"), "not an image");
    save(makeImage(KIT_GRAY, 2, 2).get(), "small.png");
    save(makeImage(KIT_RGBA, 6, 5).get(), "colour.png");
    const std::string io = in + " " + out + " ", missing = dir.file("missing.png");
    const struct { std::string words; int code; std::string message; } cases[] = {
        {in, 2, "usage: kxpipe"}, {io + "--bogus invert", 2, "unknown option '--bogus'"},
        {io + "invert -- --time", 2, "unknown operation '--time'"},
        {io + "clip 0 0 3", 2, "operation 'clip' needs bottom (integer)"},
        {io + "clip 0 0 3 2147483648", 2, "is not an integer"},
        {io + "setpixele1 1,2,3 0 0 1", 2, "is not a point list"},
        {io + "simple 256 0", 2, "t: '256' is not an integer 0..255"},
        {io + "replacepixels 1 -1 -", 2, "new_colour: '-1' is not a colour"},
        {io + "replacepixels 4294967296 1 -", 2, "is not a colour"}, {io + "dilate box:3x3", 2, "is not an element"},
        {io + "pixelmergee1 x.png 1 nan 0", 2, "scale: 'nan' is not a number"},
        {io + "warp 1,2,3,4,5,6 0,0,1,0,1,1,0,1", 2, "is not four points"},
        // Regression: the point-list parser converted each item to int
        // before its range check (1e12 was undefined behaviour) and refused
        // -2147483648, which integer arguments accept.
        {io + "setpolyline 1e12,2 0", 2, "points: '1e12,2' is not a point list"},
        {io + "setpolyline 1000000000000,2 0", 2, "is not a point list"},
        {io + "setpixele1 2147483648,0 0 0 1", 2, "is not a point list"},
        {missing + " " + out + " invert", 1, missing + ": No such file"},
        {dir.file("text.png") + " " + out + " invert", 1, "not a PNG, PNM, TIFF or JPEG file"},
        {io + "pixeladd " + missing, 1, "missing.png"},
        {in + " " + dir.file("no/such/dir/out.png") + " invert", 1, "out.png"},
        {in + " " + dir.file("out.bmp") + " invert", 1, dir.file("out.bmp") + ": cannot tell the file format"},
        // Words are read before the input.
        {missing + " " + out + " clip 0 0 3 x", 2, "operation 'clip' bottom: 'x' is not an integer"},
        // The format of the target's name, not of the temporary file's.
        {in + " " + dir.file("grey.pbm") + " invert", 1, "PBM holds binary images only"},
        // One row per kind of check; libkxextra's steps refuse as kxpre's do.
        {io + "invert rgb otsu -", 2, "step 3 (otsu): works on grey images, not B,G,R colour"},
        {io + "median -5", 2, "step 1 (median): window_size must be at least 2 (got -5)"},
        {io + "pixelmerge " + in + " 1203", 2, "step 1 (pixelmerge): code must be one of 1204, 1205"},
        {io + "clip 4 0 1 3", 2, "step 1 (clip): needs right >= left (got right 1, left 4)"},
        {io + "fill 6 0 9", 2, "step 1 (fill): needs x < width (got x 6, width 6)"},
        {io + "setpolyline 1,1 9", 2, "step 1 (setpolyline): points needs at least 2 points (got 1)"},
        {io + "detectedge 0 0 0 " + dir.file("small.png"), 2,
         "step 1 (detectedge): mask must have the size of the image, 6 x 5 (got 2 x 2)"},
        {io + "rgb replacechannel " + dir.file("colour.png") + " 1", 2,
         "step 2 (replacechannel): channel must be a binary or grey or B,G,R colour"},
        {io + "sauvola 5 0.2 0", 2, "step 1 (sauvola): needs r > 0.0 (got r 0)"},
        // Results no reader of ours opens, refused before they are made: a
        // 46000 x 46000 unwarp ran 49 s at 4.1 GB and was then written.
        {io + "unwarp 0,0,5,0,5,4,0,4 46000 46000", 1,
         "(unwarp): the result would be too large for any file: 46000 x 46000 pixels are above the limit"},
        {in + " " + dir.file("wide.jpg") + " clip 0 0 65500 0 invert", 1,
         "(clip): the result cannot be written: " + dir.file("wide.jpg") + ": 65501 x 1 pixels are above"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.words);
        writeFile(out, "previous result");
        const PipeRun r = kxpipe(split(c.words));
        EXPECT_EQ(r.code, c.code);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(readFile(out), "previous result");
        if (c.message.rfind("step ", 0) == 0) {
            EXPECT_NE(r.err.find("--lenient"), std::string::npos) << r.err;
            EXPECT_EQ(kxpipe(split(c.words + " --lenient")).code, 0);
        }
    }
    Image broken{};  // a write failing after the temporary file is made
    std::string error;
    writeFile(out, "previous result");
    EXPECT_FALSE(kxtools::writeImageAtomic(&broken, out, error));
    EXPECT_EQ(readFile(out), "previous result");
    EXPECT_EQ(kxpipe({in, dir.file("bits.pbm"), "bin"}).code, 0);
    EXPECT_EQ(readFile(dir.file("bits.pbm")).substr(0, 2), "P4");
    // bits.pbm, colour.png, in.png, out.png, small.png, text.png and nothing else
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 6);
}

// Names kxpipe takes as they are (spaces, bytes that are not UTF-8), and
// outputs it cannot replace: a folder stays a folder, a file in a folder it
// may not write to is refused (not as root, who may), nothing is left behind.
TEST_F(PipeFiles, AnyNameIsAFileNameAndUnwritableOutputsAreRefused)
{
    const std::string odd = dir.file("scan \xff\xfe page.png"), oddOut = dir.file("out \xe9t\xe9.png");
    std::filesystem::copy_file(in, odd);
    ASSERT_EQ(kxpipe({odd, oddOut, "invert"}).code, 0);
    ASSERT_EQ(kxpipe({in, out, "invert"}).code, 0);
    EXPECT_EQ(readFile(oddOut), readFile(out));
    const std::string folder = dir.file("folder.png");
    std::filesystem::create_directory(folder);
    PipeRun r = kxpipe({in, folder, "invert"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("folder.png"), std::string::npos) << r.err;
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_TRUE(std::filesystem::is_empty(folder));
    if (geteuid() != 0) {
        const std::string locked = dir.file("locked");
        std::filesystem::create_directory(locked);
        std::filesystem::permissions(locked, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
        r = kxpipe({in, locked + "/out.png", "invert"});
        EXPECT_EQ(r.code, 1);
        EXPECT_TRUE(std::filesystem::is_empty(locked));
        std::filesystem::permissions(locked, std::filesystem::perms::owner_all);
    }
}

// A pipeline writes what the same calls made directly give (binary images
// are written black and white) and prints nothing; a second image is
// converted to the input's type.  Queries print what the call returns, as
// the shortest text that reads back the same double; other results
// (kxScale's status) are not printed.
TEST_F(PipeFiles, PipelinesEqualTheDirectCallsAndOnlyQueriesPrint)
{
    writeFile(out, "old contents");
    PipeRun r = run("invert clip 1 1 4 3 bin");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");
    kxtest::ImagePtr expected(kxiClone(input.get(), nullptr));
    kxInvert(expected.get());
    kxClip(expected.get(), 1, 1, 4, 3);
    kxiCast(expected.get(), KIT_BIN);
    std::vector<uint8_t> want = pixels(expected.get());
    for (auto &b : want) b = b ? 255 : 0;
    EXPECT_EQ(outputPixels(), want);
    save(makeImage(KIT_RGB, 6, 5).get(), "black.png");
    EXPECT_EQ(run("pixelsmall " + dir.file("black.png")).code, 0);
    EXPECT_EQ(outputPixels(), std::vector<uint8_t>(30, 0));

    r = run("level - 3 bin findskew scale 0.5 2");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.find("scale"), std::string::npos) << r.out;
    const std::string head = "level: " + std::to_string(kxxLevel(input.get(), nullptr, KXX_MAX_ENTROPY)) + "\n";
    ASSERT_TRUE(kxiCast(input.get(), KIT_BIN));
    double angle = 99, confidence = 99, a = -1, k = -1;
    ASSERT_EQ(kxxFindSkew(input.get(), &angle, &confidence), 1);
    ASSERT_EQ(r.out.rfind(head + "findskew: ", 0), 0u) << r.out;
    ASSERT_EQ(std::sscanf(r.out.c_str() + head.size() + 10, "%lf %lf", &a, &k), 2) << r.out;
    EXPECT_EQ(r.out.substr(head.size()), "findskew: " + kxtools::showNumber(angle) + " " +
                                             kxtools::showNumber(confidence) + "\n");
    EXPECT_NEAR(a, angle, 1e-13);
    EXPECT_NEAR(k, confidence, 1e-13);
}

// Regression: findskew printed 0.34249999999999997 (the shortest text that
// reads back the same double) where a person reads 0.3425.
TEST(PipeNumbers, PrintedAsAPersonReadsThem)
{
    const std::pair<double, const char *> cases[] = {
        {137 * 0.0025, "0.3425"}, {0.1 + 0.2, "0.3"}, {3.0, "3"}, {-0.0, "0"}, {-2.5, "-2.5"},
        {1e-20, "1e-20"}, {123456789012.25, "123456789012.25"}, {0.957299372870432, "0.957299372870432"}};
    for (const auto &[v, text] : cases) EXPECT_EQ(kxtools::showNumber(v), text) << v;
}

// Regression: defaults of the manifest were not taken ("sauvola 25" and
// "otsu" needed every argument).  A default is used when the words end or the
// next word names an operation; a mistyped word is not taken for a left-out
// argument.
TEST(PipeParse, LeftOutArgumentsTakeTheManifestsDefaults)
{
    std::vector<kxtools::Step> steps;
    ASSERT_EQ(parseError("sauvola 25 invert otsu deskew", steps), "");
    ASSERT_EQ(steps.size(), 4u);
    EXPECT_EQ(std::tuple(steps[0].args.i(0), steps[0].args.d(1), steps[0].args.d(2)), std::tuple(25, 0.2, 127.5));
    EXPECT_EQ(steps[2].args.values[0].text, "-");
    EXPECT_EQ(std::pair(steps[3].args.d(0), steps[3].args.i(1)), std::pair(0.5, 1));
    ASSERT_EQ(parseError("sauvola 25 0.3", steps), "");
    EXPECT_EQ(std::pair(steps[0].args.d(1), steps[0].args.d(2)), std::pair(0.3, 127.5));
    EXPECT_NE(parseError("sauvola invert", steps).find("needs window"), std::string::npos);
    EXPECT_NE(parseError("sauvola 25 medain 5", steps).find("'medain' is not a number, nor an operation"),
              std::string::npos);
    const PipeRun check = kxpipe({"--check", "gray", "sauvola", "25", "invert"});
    EXPECT_EQ(check.code, 0);
    EXPECT_EQ(check.out, std::string("gray\0sauvola\0" "25\0" "0.2\0" "127.5\0invert\0", 33));
    const PipeRun typo = kxpipe({"--check", "invert", "medain", "5"});
    EXPECT_EQ(typo.code, 2);
    EXPECT_EQ(typo.err, "kxpipe: unknown operation 'medain' (kxpipe --help lists them)\n");
    EXPECT_EQ(kxpipe({"--check", "median", "-5"}).code, 2);
    EXPECT_NE(kxpipe({"-h"}).out.find("  sauvola window k=0.2 r=127.5"), std::string::npos);
}

TEST_F(PipeFiles, OptionsStandAnywhereTimingGoesToStderrAndVersionIsTheProjects)
{
    EXPECT_EQ(kxpipe({in, "--time", out, "invert", "--lenient", "median", "-5"}).code, 0);
    EXPECT_EQ(kxpipe({in, out, "invert", "--help"}).code, 0);
    const PipeRun t = kxpipe({"--time", in, dir.file("out.pgm"), "invert"});
    ASSERT_EQ(t.code, 0) << t.err;
    EXPECT_NE(t.err.find("invert"), std::string::npos);
    EXPECT_NE(t.err.find(" ms "), std::string::npos);
    EXPECT_EQ(readFile(dir.file("out.pgm")).substr(0, 9), "P5\n6 5\n25");
    struct stat st {};  // the permissions of an ordinary new file, not the temporary file's
    ASSERT_EQ(stat(dir.file("out.pgm").c_str(), &st), 0);
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
    EXPECT_EQ(kxpipe({"--version"}).out, std::string("kxpipe ") + KX_VERSION + "\n");
}

// Regression: a 3-page TIFF gave one page.  Every page runs on its own and a
// TIFF output gets them all; another output needs --page; a step refused on
// one page names the page; deskew tells the angle it found.
TEST_F(PipeFiles, EveryPageOfAMultiPageTiffAndPageSelection)
{
    std::vector<kxtest::ImagePtr> pages;
    std::vector<const Image *> list;
    for (int p = 0; p < 3; ++p) {
        pages.push_back(makeImage(KIT_GRAY, 7 + p, 4, randomBytes(size_t(7 + p) * 4, 20 + p)));
        list.push_back(pages.back().get());
    }
    pages.push_back(makeImage(KIT_RGB, 5, 3, randomBytes(45, 9)));
    list.push_back(pages.back().get());
    std::string error;
    ASSERT_TRUE(kxtools::writePagesAtomic(list, dir.file("multi.tif"), error)) << error;
    const std::string multi = dir.file("multi.tif"), tif = dir.file("out.tif");
    PipeRun r = kxpipe({multi, tif, "invert", "sauvola", "3", "--lenient"});
    ASSERT_EQ(r.code, 0) << r.err;
    ASSERT_EQ(kxioPageCount(tif.c_str(), nullptr, 0), 4);
    for (int p = 0; p < 4; ++p) {
        kxtools::ImagePtr got(kxioRead(tif.c_str(), p, nullptr, 0)), want(kxiClone(list[size_t(p)], nullptr));
        kxInvert(want.get());
        kxxLocalThreshold(want.get(), 1, 3, 0.2, 127.5);
        ASSERT_TRUE(got);
        EXPECT_EQ(std::tuple(got->imageType, got->width, pixels(got.get())),
                  std::tuple(want->imageType, want->width, pixels(want.get())))
            << p;
    }
    writeFile(out, "previous result");
    r = kxpipe({multi, out, "invert"});
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("has 4 pages and " + out + " holds one"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(out), "previous result");
    r = kxpipe({multi, out, "--page", "2", "invert"});
    ASSERT_EQ(r.code, 0) << r.err;
    kxtools::ImagePtr second(kxiClone(list[1], nullptr));
    kxInvert(second.get());
    EXPECT_EQ(outputPixels(), pixels(second.get()));
    EXPECT_EQ(kxpipe({multi, out, "--page=5", "invert"}).code, 1);
    EXPECT_EQ(kxpipe({multi, out, "--page", "0", "invert"}).code, 2);
    r = kxpipe({multi, tif, "sauvola", "3"});  // the colour page is refused, and named
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("kxpipe: page 4: step 1 (sauvola): works on grey images"), std::string::npos) << r.err;
    r = kxpipe({in, dir.file("d.png"), "bin", "deskew", "0"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err.rfind("deskew: not turned: angle 0", 0), 0u) << r.err;
}

// The server of batch runs gives, file after file, what kxpipe gives (the
// same bytes, codes and messages); the temporary files carry the tag.
TEST_F(PipeFiles, ServerRepliesAsKxpipeForEachFile)
{
    writeFile(dir.file("bad.png"), "not an image");
    save(makeImage(KIT_RGB, 4, 4).get(), "colour.png");
    const std::vector<std::string> steps = {"median", "3", "sauvola", "3"};
    std::string requests;
    const std::string names[] = {"in.png", "bad.png", "colour.png", "in.png"};
    for (const auto &n : names) requests += dir.file(n) + '\0' + dir.file("s-" + n) + '\0';
    std::istringstream in(requests);
    std::ostringstream out, err;
    std::vector<std::string> argv = {"kxpipe", "--serve", "--tag", "T1-"};
    argv.insert(argv.end(), steps.begin(), steps.end());
    ASSERT_EQ(kxtools::runPipe(argv, in, out, err), 0) << err.str();
    std::vector<std::string> replies;
    std::istringstream back(out.str());
    for (std::string line; std::getline(back, line, '\0');) replies.push_back(line);
    ASSERT_EQ(replies.size(), 4u);
    for (size_t k = 0; k < 4; ++k) {
        SCOPED_TRACE(names[k]);
        std::vector<std::string> words = {dir.file(names[k]), dir.file("k-" + names[k])};
        words.insert(words.end(), steps.begin(), steps.end());
        const PipeRun direct = kxpipe(words);
        int code = -1, pages = -1;
        double decode, ops, encode;
        int used = 0;
        ASSERT_EQ(std::sscanf(replies[k].c_str(), "%d %lf %lf %lf %d %n", &code, &decode, &ops, &encode, &pages, &used), 5);
        EXPECT_EQ(code, direct.code);
        EXPECT_EQ(replies[k].substr(size_t(used)), direct.err.substr(0, direct.err.size() - (direct.err.empty() ? 0 : 1)));
        EXPECT_EQ(readFile(dir.file("s-" + names[k])), readFile(dir.file("k-" + names[k])));
        EXPECT_EQ(pages, code == 1 ? 0 : 1);
    }
    for (const auto &e : std::filesystem::directory_iterator(dir.path))
        EXPECT_EQ(e.path().filename().string().find(".kxtmp"), std::string::npos);
}

// Steps built around records or caller arrays (not compared by tests/python).
TEST(PipeSteps, DistanceMapAndFloodFill)
{
    kxtools::ImagePtr im(kxCreateImage(KIT_BIN, 11, 11));
    kxFillRect(im.get(), 2, 2, 8, 8, 1);  // a square (the frame of the image is no source of distance)
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

// Each writer skips the row padding (binary images and PNG's conversion of
// them: the pipeline test).
TEST(ImageFiles, PaddedImagesSurviveARoundTrip)
{
    const std::pair<int, const char *> cases[] = {
        {KIT_BIN, "a.tif"}, {KIT_GRAY, "a.pgm"}, {KIT_RGB, "a.png"}, {KIT_RGBA, "a.tiff"}};
    TempDir dir;
    for (const auto &[type, file] : cases) {
        SCOPED_TRACE(file);
        const int w = 13, h = 7;  // odd sizes: rows of 39 bytes for RGB
        const auto bytes = randomBytes(size_t(w) * h * kxiBytesPerPixel(type), 11, 0, type == KIT_BIN ? 1 : 255);
        kxtest::PaddedImage in(type, w, h, bytes, 3);  // padding must not reach the file
        std::string error;
        ASSERT_TRUE(kxtools::writeImage(in.get(), dir.file(file), error)) << error;
        kxtools::ImagePtr back = kxtools::readImage(dir.file(file), error);
        ASSERT_TRUE(back) << error;
        EXPECT_EQ(std::tuple(back->imageType, back->width, back->height, pixels(back.get())),
                  std::tuple(type, w, h, bytes));
    }
}

}  // namespace
