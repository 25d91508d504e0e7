// The scaler's integer routes against the float terms they replace: the
// integer forms of single weights, the integer column lines on both
// instruction sets, and whole scales at the factors where the row
// programme and the integer lines take over.
#include <cstdio>

#include "ref_scale.hpp"

using namespace kxtest;
using namespace kx::geo;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr int kScale = 4;  // the sanitized build checks a sample of the cases
#else
constexpr int kScale = 1;
#endif

int termOf(const TermCode &c, int b)
{
    switch (c.kind) {
    case TermCode::kZero: return 0;
    case TermCode::kCopy: return b;
    default: return int(((uint32_t(b) * c.mul) >> 16) >> c.shift);
    }
}

TEST(TermCodes, EveryFormGivesTheFloatTermForEveryByte)
{
    std::vector<float> weights = {0.0f, 1.0f, 0.5f, 0.25f, 0.125f, 0.75f, 1.0f / 3, 2.0f / 3, 0.2f, 0.1f, 1e-6f,
                                  0.00390625f, 0.0039062f, 0.99999994f, -1e-9f, -0.5f, 1.5f, 300.0f};
    for (float w : {1.0f / 3, 0.2f, 0.1f, 0.6f}) weights.push_back(std::nextafter(w, 0.0f)), weights.push_back(std::nextafter(w, 1.0f));
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> d(0.0f, 1.0f);
    for (int i = 0; i < 4000 / kScale; ++i) weights.push_back(d(rng));
    int withForm = 0;
    for (float w : weights)
        for (int maxShift : {0, 15}) {
            TermCode c{};
            if (!termCode(w, maxShift, c)) continue;
            withForm += maxShift == 15;
            ASSERT_LE(int(c.shift), maxShift) << w;
            for (int b = 0; b < 256; ++b) ASSERT_EQ(termOf(c, b), int(float(b) * w)) << "weight " << w << " byte " << b;
        }
    std::printf("weights with an integer form: %d of %zu\n", withForm, weights.size());
    // The weights of halving and doubling with the bilinear and box filters
    // must have forms; bytes times a negative or a large weight have none.
    for (float w : {0.0f, 1.0f, 0.5f, 0.25f}) {
        TermCode c{};
        EXPECT_TRUE(termCode(w, 0, c)) << w;
    }
    for (float w : {-0.5f, 1.5f, 300.0f}) {
        TermCode c{};
        EXPECT_FALSE(termCode(w, 15, c)) << w;
    }
}

TEST(TermCodes, IntegerLinesOnBothInstructionSets)
{
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> d(0.0f, 0.6f);
    for (int round = 0; round < 300 / kScale; ++round) {
        const int taps = 1 + round % 7;
        const size_t n = size_t(1 + rng() % 200);
        std::vector<std::vector<uint8_t>> data;
        std::vector<const uint8_t *> lines;
        std::vector<TermCode> codes;
        while (int(codes.size()) < taps) {
            TermCode c{};
            const float w = round % 5 == 0 ? 1.0f : d(rng);
            if (!termCode(w, 15, c) || c.kind == TermCode::kZero) continue;
            data.push_back(randomBytes(n, rng()));
            codes.push_back(c);
        }
        for (auto &v : data) lines.push_back(v.data());
        std::vector<uint8_t> want(n);
        for (size_t j = 0; j < n; ++j) {
            uint8_t acc = 0;
            for (int k = 0; k < taps; ++k) acc = uint8_t(acc + termOf(codes[size_t(k)], lines[size_t(k)][j]));
            want[j] = acc;
        }
        for (bool avx2 : {false, true}) {
            if (avx2 && !__builtin_cpu_supports("avx2")) continue;
            std::vector<uint8_t> got(n, 1);
            integerLine(lines.data(), codes.data(), taps, got.data(), n, avx2);
            ASSERT_EQ(got, want) << "taps " << taps << " bytes " << n << " avx2 " << avx2;
        }
    }
}

// The row programme takes halving and doubling with the bilinear filter in
// every layout (so the whole scales below run it), and refuses windows
// that spread past 16 source bytes.
TEST(RowProgram, TakesHalvingAndDoubling)
{
    if (!__builtin_cpu_supports("avx2")) GTEST_SKIP() << "the row programme needs AVX2";
    struct Case {
        int count, source, ch;
        bool built;
    };
    for (const Case &c : {Case{32, 64, 1, true}, Case{32, 64, 3, true}, Case{32, 64, 4, true}, Case{128, 64, 1, true},
                          Case{128, 64, 3, true}, Case{16, 64, 1, false}}) {
        ContributionTable *t = computeContributions<CBilinearFilter>(c.count, c.source, axisScale(c.count, c.source));
        ASSERT_NE(t, nullptr);
        RowProgram *p = buildRowProgram(t, c.source, c.ch);
        EXPECT_EQ(p != nullptr, c.built) << c.source << " -> " << c.count << " ch " << c.ch;
        releaseRowProgram(p);
        releaseContributions(t);
    }
}

// Halving, doubling and other ratios over every filter and layout, on
// pictures wide enough for the row programme.
TEST(ScaleEx, IntegerRoutesMatchTheDirectLoops)
{
    struct Case {
        int sw, sh, dw, dh;
    };
    const Case cases[] = {{64, 48, 32, 24},   {130, 40, 65, 20},  {37, 29, 74, 58},   {100, 7, 200, 14},
                          {96, 96, 24, 24},   {40, 30, 160, 120}, {90, 60, 60, 40},   {60, 40, 90, 60},
                          {101, 50, 51, 25},  {17, 200, 34, 100}, {256, 8, 128, 16},  {33, 33, 99, 11},
                          {200, 150, 100, 75}};
    uint32_t seed = 70;
    int64_t bytes = 0;
    for (size_t ci = 0; ci < std::size(cases); ci += kScale > 1 ? 3 : 1) {
        const Case &c = cases[ci];
        for (int type : {KIT_GRAY, KIT_RGB, KIT_RGBA})
            for (int filter = 2; filter <= 6; ++filter) {
                auto src = randomImage(type, c.sw, c.sh, seed++);
                auto dst = makeImage(type, c.dw, c.dh);
                ASSERT_EQ(kxScaleEx(src.get(), dst.get(), filter), 1);
                const auto want = ref::scaleFiltered(filter, ref::picOf(src.get()), c.dw, c.dh).px;
                ASSERT_EQ(pixels(dst.get()), want) << c.sw << "x" << c.sh << " -> " << c.dw << "x" << c.dh << " type "
                                                   << type << " filter " << filter;
                bytes += int64_t(want.size());
            }
    }
    std::printf("scaled bytes compared: %lld\n", (long long)bytes);
}

}  // namespace
