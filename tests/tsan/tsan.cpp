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

#define OP(type, w, h, ...) {#__VA_ARGS__, type, w, h, [](Image *im) -> Image * { return __VA_ARGS__; }}
const Op kOps[] = {
    OP(A, 37, 23, kxInvert(im)), OP(G, 64, 40, kxbOtsu(im, nullptr)), OP(G, 48, 31, kxbMultiLevel(im, 4)),
    OP(G, 51, 33, kxbLocalIntegral(im, 7, 128, 0.3f)), OP(G, 40, 40, kxbIsoData(im, 20, 3)),
    OP(G, 45, 29, kxSobel(im, 0)), OP(G, 50, 30, kxDetectEdge(im, 0, 0, 0.0f, nullptr)),
    OP(C, 33, 21, kxSmoothAvg(im, 5)), OP(G, 41, 27, kxMedian(im, 5)), OP(G, 36, 36, kxNormalize(im, 120.0f, 900.0f)),
    OP(G, 60, 20, kxEqualize(im)), OP(A, 30, 30, kxLinearEx(im, 0xB, 1.3f, -7.0f)), OP(C, 28, 26, kxIncreaseLum(im)),
    OP(B, 44, 30, (kxThinning(im), im)), OP(B, 39, 31, kxSkeleton(im, 0)), OP(B, 47, 25, (kxFillHole(im), im)),
    OP(B, 35, 35, (kxRemoveBorder(im), im)), OP(B, 40, 28, kxDilateE1(im, 2)), OP(B, 40, 28, kxErodeE1(im, 3)),
    OP(B, 32, 32, (kxEclose(im, 5), im)), OP(C, 31, 17, kxRotate(im, 1)), OP(G, 30, 22, kxRotateEx(im, 33.0, 0, 0)),
    OP(A, 29, 19, (kxScale(im, 1.37f, 4), im)), OP(G, 64, 48, (kxScale(im, 0.41f, 3), im)),
    OP(G, 35, 25, kxTranslate(im, 1.25f, -2.5f, 0)), OP(C, 36, 24, kxRotateE3(im, 17.5, 11.0, 27.0, 0xFF102030)),
    OP(C, 50, 40, (kxSetEllipse(im, 25, 20, 18, 9, 20.0f, 0xFF00FF), im)),
    OP(G, 45, 35, (kxFillPolygon(im, kPoly, 5, 200), im)), OP(G, 45, 35, (kxFillPolygonE2(im, kPoly, 5, 7, 1), im)),
    OP(G, 40, 30, kxFill(im, 1, 1, 250)),
    OP(C, 60, 24, (kxFillTextEx(im, "Ag 1\nxy", 2, 1, nullptr, 9, 0xFF, 0xFFFFFF, 0), im)),
    {"warp", G, 44, 32, [](Image *im) {
         Image *d = kxCreateImage(KIT_GRAY, 30, 20);
         kxUnwarp(im, kQuad, d);
         return d;
     }},
    OP(G, 48, 36, kxCanny(im, 30, 90, 0, 3)), OP(C, 40, 30, kxSmoothGaussian(im, 5, 7)),
    OP(A, 33, 27, kxMorphology(im, 4, 1)), OP(G, 41, 37, kxAdaptive(im, 1, 7)), OP(C, 40, 30, kxPyramid(im, 0, im)),
    OP(G, 40, 30, (kxFloodFill(im, 5, 5, {99, 0, 0}, {{20, 0, 0, 0}}, {{20, 0, 0, 0}}, 8, 0), im)),
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
        OP(G, 400, 300, kxSobel(im, 0)), OP(G, 400, 300, kxDetectEdge(im, 0, 0, 0.0f, nullptr)),
        OP(A, 300, 200, kxLinear(im, 1.7f, -20.0f)), OP(G, 500, 300, kxEqualize(im)),
        OP(G, 500, 300, kxbOtsu(im, nullptr)), OP(G, 400, 300, kxbMultiLevel(im, 3)),
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
