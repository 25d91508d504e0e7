/* Uses the installed libraries: a few calls of kxpre, an image file through
 * kxio, and the version the program was built with. */
#include <kxio.h>
#include <kxpre.h>
#include <kxpre_version.h>

#include <stdio.h>
#include <string.h>

int main(int argc, char **argv)
{
    if (strcmp(KXPRE_VERSION_STRING, KX_EXPECTED_VERSION) != 0) {
        fprintf(stderr, "consumer: header version %s, package %s\n", KXPRE_VERSION_STRING, KX_EXPECTED_VERSION);
        return 1;
    }
    Image *im = kxCreateImage(KIT_RGB, 8, 4);
    if (!im) return 1;
    kxSetPixelEx(im, 0x00102030u, NULL, 0);
    kxInvert(im);
    /* Through a file and back (the folder comes from the command line). */
    char path[4096], error[256] = "";
    snprintf(path, sizeof path, "%s/consumer.tif", argc > 1 ? argv[1] : ".");
    Image *back = kxioWrite(im, path, NULL, error, sizeof error) ? kxioRead(path, 0, error, sizeof error) : NULL;
    kxDestroyImage(im);
    if (!back) {
        fprintf(stderr, "consumer: %s\n", error);
        return 1;
    }
    const uint32_t v = kxGetPixel(back, 7, 3);
    kxDestroyImage(back);
    printf("consumer %s: %08x\n", KXPRE_VERSION_STRING, (unsigned)v);
    return v == 0xFFEFDFCFu ? 0 : 1;
}
