/* Uses the installed library: a few calls, and the version it was built with. */
#include <kxpre.h>
#include <kxpre_version.h>

#include <stdio.h>
#include <string.h>

int main(void)
{
    if (strcmp(KXPRE_VERSION_STRING, KX_EXPECTED_VERSION) != 0) {
        fprintf(stderr, "consumer: header version %s, package version %s\n", KXPRE_VERSION_STRING,
                KX_EXPECTED_VERSION);
        return 1;
    }
    Image *im = kxCreateImage(KIT_RGB, 8, 4);
    if (!im) return 1;
    kxSetPixelEx(im, 0x00102030u, NULL, 0);
    kxInvert(im);
    const uint32_t v = kxGetPixel(im, 7, 3);
    kxDestroyImage(im);
    printf("consumer %s: %08x\n", KXPRE_VERSION_STRING, (unsigned)v);
    return v == 0xFFEFDFCFu ? 0 : 1;
}
