// The byte-table kernels: every kernel the processor runs stores exactly
// lut[byte] into the selected bytes of a run and nothing anywhere else,
// whatever the run's length, alignment, pixel size and channel selection.
// (The image walkers over padded rows: kxInvert, kxLinearEx and the
// threshold fills, through the exports.)
#include "kxtest.hpp"
#include "pixel/lut.hpp"

using namespace kxtest;
using kx::lut::Kernel;

namespace {

using Bytes = std::vector<uint8_t>;

// Random, reversed, a step at the half, a wrapping ramp.
Bytes tableOf(int kind, uint32_t seed)
{
    Bytes t = randomBytes(256, seed);
    for (int v = 0; kind > 0 && v < 256; ++v) t[size_t(v)] = uint8_t(kind == 1 ? 255 - v : kind == 2 ? v >= 128 : v * 7 + 3);
    return t;
}

}  // namespace

TEST(ByteTable, EveryKernelMatchesThePlainLookup)
{
    const int sentinel = 0x5A, guard = 80;
    uint32_t seed = 1;
    for (Kernel k : {Kernel::Plain, Kernel::Avx2, Kernel::Vbmi}) {
        if (!kx::lut::runs(k)) continue;
        for (int kind = 0; kind < 4; ++kind) {
            const Bytes lut = tableOf(kind, seed++);
            for (int bpp : {1, 3, 4}) {
                for (unsigned bits = 0; bits < 16; ++bits) {
                    for (size_t pixelsInRun : {0, 1, 2, 5, 10, 11, 21, 22, 31, 32, 33, 63, 64, 65, 97, 200, 1001}) {
                        const size_t n = pixelsInRun * size_t(bpp);
                        const size_t offset = seed % 7;  // unaligned starts
                        Bytes buf = randomBytes(n + 2 * guard + offset, seed++);
                        std::fill(buf.begin(), buf.begin() + guard + offset, sentinel);
                        std::fill(buf.end() - guard, buf.end(), sentinel);
                        Bytes want = buf;
                        uint8_t *run = want.data() + guard + offset;
                        for (size_t i = 0; i < n; ++i)
                            if (bits >> (i % bpp) & 1u) run[i] = lut[run[i]];
                        kx::lut::mapRun(k, buf.data() + guard + offset, n, lut.data(), bpp, bits);
                        ASSERT_EQ(buf, want) << "kernel " << int(k) << " table " << kind << " bpp " << bpp
                                             << " bits " << bits << " pixels " << pixelsInRun;
                    }
                }
            }
        }
    }
    EXPECT_TRUE(kx::lut::runs(kx::lut::best()));
}
