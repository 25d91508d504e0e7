/*
 * kxtext.h - the text renderer (built on FreeType and fontconfig).
 */
#ifndef KXTEXT_H
#define KXTEXT_H

#if defined(__GNUC__)
#define KXTEXT_API __attribute__((visibility("default")))
#else
#define KXTEXT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* KXTEXT_H */
