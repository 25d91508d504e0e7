// Regression test for a fault the export fuzzer found: the image library's
// clone and cast accepted a destination record whose `type` field disagreed
// with its `imageType`, rewrote the field, and the operation then wrote into
// the record.  Every export that takes a destination must leave such a
// record, and the memory behind it, alone (the fuzzer checks the other
// kinds of unusable record).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kxpre.h"

namespace {

const float kQuad[8] = {0, 0, 7, 0, 7, 5, 0, 5};

TEST(UnusableDestination, TypeFieldDisagreeingWithImageTypeKeepsRecordAndPixels)
{
#ifndef NDEBUG
    GTEST_SKIP() << "some of these calls report a broken precondition, which aborts a Debug build";
#endif
    const std::pair<const char *, void (*)(Image *, Image *)> calls[] = {
        {"kxRetrieveEdgeE1", [](Image *s, Image *d) { kxRetrieveEdgeE1(s, 0, d); }},
        {"kxWarp", [](Image *s, Image *d) { kxWarp(s, kQuad, kQuad, d); }},
        {"kxUnwarp", [](Image *s, Image *d) { kxUnwarp(s, kQuad, d); }},
        {"kxWarpEx", [](Image *s, Image *d) { kxWarpEx(s, kQuad, 4, kQuad, 4, 1, d); }},
        {"kxCopyPixelsE3", [](Image *s, Image *d) { kxCopyPixelsE3(s, d, kQuad); }},
        {"kxPyramid", [](Image *s, Image *d) { kxPyramid(s, 0, d); }},
        {"kxScaleEx", [](Image *s, Image *d) { kxScaleEx(s, d, 2); }},
    };
    for (const auto &[call, run] : calls)
        for (int sourceType : {KIT_BIN, KIT_GRAY}) {
            SCOPED_TRACE(std::string(call) + ", source type " + std::to_string(sourceType));
            Image *source = kxCreateImage(sourceType, 8, 6);
            for (int i = 0; i < 48; ++i) source->data[i] = uint8_t(i % 3 == 0);
            // A wrapped KIT_BIN destination: the cast to KIT_GRAY keeps its
            // layout, so only the record check can stop it.
            std::vector<uint8_t> buffer(8 * 6, 7);
            Image *dest = kxCreateImageEx(KIT_BIN, 8, 6, 0, buffer.data(), 0);
            dest->type = 16;
            const Image before = *dest;
            run(source, dest);
            EXPECT_EQ(std::memcmp(&before, dest, sizeof before), 0) << "record changed";
            EXPECT_EQ(buffer, std::vector<uint8_t>(8 * 6, 7)) << "pixels written";
            *dest = before;
            kxDestroyImage(dest);
            kxDestroyImage(source);
        }
}

}  // namespace
