/*
 * kxthreads.h - the threads setting of the image libraries.
 *
 * Operations run on the calling thread only, unless the caller turns
 * threads on.  With a count of N >= 2, the operations listed below split
 * their rows into bands and run the bands on at most N threads (the calling
 * thread and up to N - 1 threads started for that call and joined before it
 * returns; no thread outlives a call, none exists while threads are off).
 * Every output byte is the same for every count: each band computes exactly
 * what the single-threaded loop computes for its rows.
 *
 * The count comes from the last kxtSetThreads call; until there is one (or
 * after kxtSetThreads(-1)), from the environment variable KXPRE_THREADS,
 * read at every call (a decimal number; anything else means off).  0 and 1
 * mean off, which is the default.  Counts above KXT_MAX_THREADS are capped.
 * A small image runs on one thread whatever the count: a band holds at
 * least some tens of thousands of pixels.
 *
 * Operations that use the threads:
 *   kxSobel, kxPrewitt, kxKirsch, kxDiffSecond, kxLaPlacian, kxSharp1541,
 *   kxRoberts, kxDiffFirst, kxGradient   (row bands of the output)
 *   kxDetectEdge                         (gradients, magnitudes and the
 *                                         edge test in row bands)
 *   kxLinear, kxLinearEx, kxContrast, kxNormalize, kxEqualize, kxExpand,
 *   kxInvert, kxbMultiLevel,
 *   the one-step and histogram binarizers (kxbSimple ... kxbMaxEntropy)
 *                                        (their byte tables in row bands)
 *   kxPixelMerge and its shortcuts, kxPixelMergeE1
 *                                        (row bands; two distinct images
 *                                         sharing memory stay on one thread)
 * kxFilter does nothing at all and has nothing to split.  The vision
 * wrappers (kxCanny, kxSmoothGaussian, kxWarp, ...) let OpenCV use its own
 * threads only while threads are on; with threads off they start none.
 *
 * Threads at load: loading these libraries starts no thread, but libraries
 * the system loads with them may.  OpenCV's core loads the system's BLAS
 * and LAPACK, and where Debian's alternatives select OpenBLAS (pthreads),
 * OpenBLAS starts its pool of idle threads as it loads, before any call.
 * No call of ours hands work to it (the matrix sizes these libraries solve
 * are below OpenCV's LAPACK thresholds), and it is left alone: how many
 * threads OpenBLAS keeps is a choice of the program, which it makes with
 * OPENBLAS_NUM_THREADS=1 in the environment of the process (read when
 * OpenBLAS loads) or with the reference BLAS.
 */
#ifndef KXTHREADS_H
#define KXTHREADS_H

#if defined(__GNUC__)
#define KXTHREADS_API __attribute__((visibility("default")))
#else
#define KXTHREADS_API
#endif

/* The largest number of threads an operation uses. */
#define KXT_MAX_THREADS 64

#ifdef __cplusplus
extern "C" {
#endif

/* Sets the number of threads operations may use (the calling thread
 * included): 0 or 1 off, 2..KXT_MAX_THREADS on, larger counts capped; a
 * negative count forgets the setting, so that KXPRE_THREADS decides again.
 * The setting belongs to the process and may be changed from any thread at
 * any time: no result depends on the count, only the time it takes. */
KXTHREADS_API void kxtSetThreads(int count);

/* The number of threads operations use now: 1 when threads are off,
 * otherwise 2..KXT_MAX_THREADS. */
KXTHREADS_API int kxtGetThreads(void);

#ifdef __cplusplus
}
#endif

#endif /* KXTHREADS_H */
