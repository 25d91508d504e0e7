// Calls from many threads at once.  A table of operations, each on its own
// kind of image, is first run serially; then 8 threads run the whole table
// at once, each in its own order and on its own copies, and every result must
// equal the serial one byte for byte.  Built with -DKX_TSAN=ON
// (tests/tsan/run.sh) ThreadSanitizer reports any data race between the
// calls; in other builds the test still checks that the results do not
// depend on what runs alongside.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "kxmask.h"
#include "kxpre.h"
#include "kxtest.hpp"  // also the leak checker's fontconfig suppression
#include "kxthreads.h"

namespace {

struct Op {
    const char *name;
    int type, width, height;
    Image *(*run)(Image *);  // returns the image to compare
};

const float kQuad[8] = {2, 1, 40.5f, 3, 38, 29, 1, 27};
const int kPoly[10] = {3, 2, 40, 5, 33, 28, 12, 30, 2, 15};
const int G = KIT_GRAY, B = KIT_BIN, C = KIT_RGB, A = KIT_RGBA;

const Op kOps[] = {
        {"invert", A, 37, 23, [](Image *im) { return kxInvert(im); }},
        {"otsu", G, 64, 40, [](Image *im) { return kxbOtsu(im, nullptr); }},
        {"multilevel", G, 48, 31, [](Image *im) { return kxbMultiLevel(im, 4); }},
        {"localintegral", G, 51, 33, [](Image *im) { return kxbLocalIntegral(im, 7, 128, 0.3f); }},
        {"isodata", G, 40, 40, [](Image *im) { return kxbIsoData(im, 20, 3); }},
        {"sobel", G, 45, 29, [](Image *im) { return kxSobel(im, 0); }},
        {"detectedge", G, 50, 30, [](Image *im) { return kxDetectEdge(im, 0, 0, 0.0f, nullptr); }},
        {"smoothavg", C, 33, 21, [](Image *im) { return kxSmoothAvg(im, 5); }},
        {"median", G, 41, 27, [](Image *im) { return kxMedian(im, 5); }},
        {"normalize", G, 36, 36, [](Image *im) { return kxNormalize(im, 120.0f, 900.0f); }},
        {"equalize", G, 60, 20, [](Image *im) { return kxEqualize(im); }},
        {"linearex", A, 30, 30, [](Image *im) { return kxLinearEx(im, 0xB, 1.3f, -7.0f); }},
        {"increaselum", C, 28, 26, [](Image *im) { return kxIncreaseLum(im); }},
        {"thinning", B, 44, 30, [](Image *im) { kxThinning(im); return im; }},
        {"skeleton", B, 39, 31, [](Image *im) { return kxSkeleton(im, 0); }},
        {"fillhole", B, 47, 25, [](Image *im) { kxFillHole(im); return im; }},
        {"removeborder", B, 35, 35, [](Image *im) { kxRemoveBorder(im); return im; }},
        {"dilatee1", B, 40, 28, [](Image *im) { return kxDilateE1(im, 2); }},
        {"erodee1", B, 40, 28, [](Image *im) { return kxErodeE1(im, 3); }},
        {"eclose", B, 32, 32, [](Image *im) { kxEclose(im, 5); return im; }},
        {"rotate", C, 31, 17, [](Image *im) { return kxRotate(im, 1); }},
        {"rotateex", G, 30, 22, [](Image *im) { return kxRotateEx(im, 33.0, 0, 0); }},
        {"scale", A, 29, 19, [](Image *im) { kxScale(im, 1.37f, 4); return im; }},
        {"scale box", G, 64, 48, [](Image *im) { kxScale(im, 0.41f, 3); return im; }},
        {"translate", G, 35, 25, [](Image *im) { return kxTranslate(im, 1.25f, -2.5f, 0); }},
        {"rotatee3", C, 36, 24, [](Image *im) { return kxRotateE3(im, 17.5, 11.0, 27.0, 0xFF102030); }},
        {"ellipse", C, 50, 40, [](Image *im) { kxSetEllipse(im, 25, 20, 18, 9, 20.0f, 0xFF00FF); return im; }},
        {"polygon", G, 45, 35, [](Image *im) { kxFillPolygon(im, kPoly, 5, 200); return im; }},
        {"polygone2", G, 45, 35, [](Image *im) { kxFillPolygonE2(im, kPoly, 5, 7, 1); return im; }},
        {"fill", G, 40, 30, [](Image *im) { return kxFill(im, 1, 1, 250); }},
        {"text", C, 60, 24, [](Image *im) { kxFillTextEx(im, "Ag 1\nxy", 2, 1, nullptr, 9, 0xFF, 0xFFFFFF, 0); return im; }},
        {"warp", G, 44, 32, [](Image *im) {
             Image *d = kxCreateImage(KIT_GRAY, 30, 20);
             kxUnwarp(im, kQuad, d);
             return d;
         }},
        {"canny", G, 48, 36, [](Image *im) { return kxCanny(im, 30, 90, 0, 3); }},
        {"gaussian", C, 40, 30, [](Image *im) { return kxSmoothGaussian(im, 5, 7); }},
        {"morphology", A, 33, 27, [](Image *im) { return kxMorphology(im, 4, 1); }},
        {"adaptive", G, 41, 37, [](Image *im) { return kxAdaptive(im, 1, 7); }},
        {"pyramid", C, 40, 30, [](Image *im) { return kxPyramid(im, 0, im); }},
        {"floodfill", G, 40, 30, [](Image *im) {
             kxFloodFill(im, 5, 5, {99, 0, 0}, {{20, 0, 0, 0}}, {{20, 0, 0, 0}}, 8, 0);
             return im;
         }},
};

// A picture with structure for every operation: shapes, edges and noise.
Image *picture(int type, int w, int h, unsigned seed)
{
    Image *im = kxCreateImage(type, w, h);
    const int bpp = kxiBytesPerPixel(type);
    uint32_t r = seed * 2654435761u + 1;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int dx = x - w / 2, dy = y - h / 2;
            const bool shape = dx * dx + 2 * dy * dy < w * h / 5 && (x / 4 + y / 3) % 4 != 0;
            for (int c = 0; c < bpp; ++c) {
                r = r * 1103515245u + 12345u;
                const uint8_t v = uint8_t(shape ? 160 + int(r >> 27) + 20 * c : 40 + x * 2 + y + int(r >> 27));
                im->data[size_t(y) * im->pitch + size_t(x) * bpp + c] = type == KIT_BIN ? shape : v;
            }
        }
    return im;
}

// The type, size and pixels of an operation's result on its picture.
std::string runOne(const Op &op, unsigned seed)
{
    Image *im = picture(op.type, op.width, op.height, seed);
    Image *out = op.run(im);
    std::string s = out ? std::to_string(out->imageType) + ' ' + std::to_string(out->width) + 'x' +
                              std::to_string(out->height)
                        : "null";
    for (int y = 0; out && y < out->height; ++y)
        s.append(reinterpret_cast<const char *>(out->data) + size_t(y) * out->pitch,
                 size_t(out->width) * kxiBytesPerPixel(out->imageType));
    if (out && out != im) kxDestroyImage(out);
    kxDestroyImage(im);
    return s;
}

// Runs the operations serially with the library's threads off, then from 8
// threads at once with `libraryThreads` set, each thread walking the table
// `rounds` times from its own start and in its own direction so that
// different operations overlap; returns the names of those whose results
// differ from the serial ones.
template <size_t N> std::string differing(const Op (&ops)[N], int rounds, int libraryThreads)
{
    kxtSetThreads(0);
    std::vector<std::string> serial;
    for (size_t i = 0; i < N; ++i) serial.push_back(runOne(ops[i], unsigned(i)));
    kxtSetThreads(libraryThreads);
    std::vector<std::string> bad(8);
    std::vector<std::thread> pool;
    for (size_t t = 0; t < bad.size(); ++t)
        pool.emplace_back([&, t] {
            for (int round = 0; round < rounds; ++round)
                for (size_t k = 0; k < N; ++k) {
                    const size_t i = t % 2 ? (k + t * 5) % N : N - 1 - (k + t * 3) % N;
                    if (runOne(ops[i], unsigned(i)) != serial[i]) bad[t] += std::string(ops[i].name) + ' ';
                }
        });
    for (std::thread &th : pool) th.join();
    kxtSetThreads(-1);
    std::string all;
    for (const std::string &b : bad) all += b;
    return all;
}

TEST(Threads, EightThreadsGiveTheSerialResults) { EXPECT_EQ(differing(kOps, 4, 0), ""); }

// The operations that split their rows into bands when threads are on, on
// images large enough to be split, run from 8 threads at once with the
// library's own threads on: every result equals the one computed with
// threads off.
TEST(Threads, EightCallersWithLibraryThreadsOnGiveTheSerialResults)
{
    static const Op banded[] = {
        {"sobel", G, 400, 300, [](Image *im) { return kxSobel(im, 0); }},
        {"detectedge", G, 400, 300, [](Image *im) { return kxDetectEdge(im, 0, 0, 0.0f, nullptr); }},
        {"linear", A, 300, 200, [](Image *im) { return kxLinear(im, 1.7f, -20.0f); }},
        {"equalize", G, 500, 300, [](Image *im) { return kxEqualize(im); }},
        {"otsu", G, 500, 300, [](Image *im) { return kxbOtsu(im, nullptr); }},
        {"multilevel", G, 400, 300, [](Image *im) { return kxbMultiLevel(im, 3); }},
        {"mergee1", C, 300, 200, [](Image *im) {
             Image *other = picture(KIT_RGB, 300, 200, 99);
             kxPixelMergeE1(im, other, 2, 1.5f, 3.0f);
             kxDestroyImage(other);
             return im;
         }},
    };
    EXPECT_EQ(differing(banded, 1, 4), "");
}

}  // namespace
