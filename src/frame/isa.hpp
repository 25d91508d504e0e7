// Instruction-set levels: the one place that says which vector instructions
// the kernels may use.
//
// The processor is asked once per process.  KXPRE_CPU caps the level
// (plain, avx2, avx512 or vbmi; read once, when a kernel is first chosen):
// every kernel computes the same bytes at every level, so a cap changes
// speed only.  A family keeps its kernels in a Table, one slot a level, and
// takes one entry per call (never per row):
//
//   constexpr isa::Table<RowFn> kRows{{plain::rows, avx2::rows, avx512::rows}};
//   const RowFn rows = kRows.pick();
//
// A kernel is either hand-written with KX_TARGET(KX_ISA_AVX2) (and the
// like), one source compiled once per level (isa_each.inc), or a plain loop
// the compiler vectorises, compiled per level by isa::Clones.
#pragma once

#include <cstdint>

#if defined(__x86_64__) && defined(__GNUC__)
#define KX_ISA_X86 1
#else
#define KX_ISA_X86 0
#endif

// A table slot filled on x86 only: {plain, KX_ISA_ON_X86(wideKernel)}.
#if KX_ISA_X86
#define KX_ISA_ON_X86(kernel) kernel
#else
#define KX_ISA_ON_X86(kernel) nullptr
#endif

// The instructions of each level, as target attributes take them (and as
// isa.cpp asks the processor for them).  Each level has all of the one
// below.
#define KX_ISA_AVX2 "avx2"
#define KX_ISA_AVX512 "avx2,avx512f,avx512bw,avx512vl,avx512dq"
#define KX_ISA_VBMI "avx2,avx512f,avx512bw,avx512vl,avx512dq,avx512vbmi"

// AVX-512 with loops the compiler vectorises in 512-bit registers where GCC
// would otherwise prefer 256 (clang takes no such hint in a target string).
#if defined(__clang__)
#define KX_ISA_AVX512_WIDE KX_ISA_AVX512
#else
#define KX_ISA_AVX512_WIDE KX_ISA_AVX512 ",prefer-vector-width=512"
#endif

// A function compiled for a level: KX_TARGET(KX_ISA_AVX2) void f(...).
#define KX_TARGET(features) __attribute__((target(features)))

// Every function between KX_ISA_BEGIN(features) and KX_ISA_END is compiled
// for those instructions (lambdas and templates too; GCC and clang alike).
#define KX_ISA_PRAGMA_(text) _Pragma(#text)
#define KX_ISA_PRAGMA(text) KX_ISA_PRAGMA_(text)
#if defined(__clang__)
#define KX_ISA_BEGIN(features) KX_ISA_PRAGMA(clang attribute push(__attribute__((target(features))), apply_to = function))
#define KX_ISA_END KX_ISA_PRAGMA(clang attribute pop)
#else
#define KX_ISA_BEGIN(features) KX_ISA_PRAGMA(GCC push_options) KX_ISA_PRAGMA(GCC target(features))
#define KX_ISA_END KX_ISA_PRAGMA(GCC pop_options)
#endif

namespace kx::isa {

// Ordered: a level runs wherever a higher one does.
enum class Level : uint8_t {
    Plain,   // any x86-64 (SSE2), and any other processor
    Avx2,    // AVX2
    Avx512,  // AVX-512 F, BW, VL and DQ
    Vbmi,    // AVX-512 F, BW, VL, DQ and VBMI
};
inline constexpr int kLevelCount = 4;
inline constexpr Level kLevels[kLevelCount] = {Level::Plain, Level::Avx2, Level::Avx512, Level::Vbmi};

// "plain", "avx2", "avx512", "vbmi": the names KXPRE_CPU takes.
const char *name(Level level) noexcept;

// The level a KXPRE_CPU value names (upper or lower case); false for
// anything else (no cap, then).
bool parse(const char *text, Level &level) noexcept;

// The highest level this processor (and its system) runs.
Level machine() noexcept;

// The highest level kernels use: machine() capped by KXPRE_CPU.
Level active() noexcept;

// A family's kernels, one slot a level (a pointer: to a function or to a
// struct of them).  An empty slot falls to the level below; the plain slot
// is always filled.
template <class P>
struct Table {
    P slot[kLevelCount];

    // The kernel for `level`, never above active(): the highest filled slot
    // at or below both.
    P pick(Level level) const noexcept
    {
        int i = int(level) < int(active()) ? int(level) : int(active());
        while (i > 0 && !slot[i]) --i;
        return slot[i];
    }
    P pick() const noexcept { return pick(active()); }
};

// A loop the compiler vectorises, compiled for the plain and the AVX2
// level: `body` is an always-inline function; Clones<body>::table holds
// one entry point per level, each with body inlined into it.
template <auto body>
struct Clones;

template <class R, class... A, R (*body)(A...)>
struct Clones<body> {
    static R plain(A... a) { return body(a...); }
#if KX_ISA_X86
    KX_TARGET(KX_ISA_AVX2) static R avx2(A... a) { return body(a...); }
    static constexpr Table<R (*)(A...)> table{{plain, avx2}};
#else
    static constexpr Table<R (*)(A...)> table{{plain}};
#endif
};

// As Clones, with an AVX-512 entry too whose loops the compiler
// vectorises in 512-bit registers, for a noexcept body.
template <auto body>
struct WideClones;

template <class R, class... A, R (*body)(A...) noexcept>
struct WideClones<body> {
    static R plain(A... a) noexcept { return body(a...); }
#if KX_ISA_X86
    KX_TARGET(KX_ISA_AVX2) static R avx2(A... a) noexcept { return body(a...); }
    KX_TARGET(KX_ISA_AVX512_WIDE) static R avx512(A... a) noexcept { return body(a...); }
    static constexpr Table<R (*)(A...) noexcept> table{{plain, avx2, avx512}};
#else
    static constexpr Table<R (*)(A...) noexcept> table{{plain}};
#endif
};

}  // namespace kx::isa
