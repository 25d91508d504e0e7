/* Draws a grey ramp with a dark square, binarises it and writes it as PGM. */
#include <stdio.h>

#include "kxpre.h"

int main(int argc, char **argv)
{
    const char *path = argc > 1 ? argv[1] : "example.pgm";
    Image *im = kxCreateImage(KIT_GRAY, 64, 48);
    if (!im) return 1;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) kxSetPixel(im, x, y, (uint32_t)(128 + x));
    for (int y = 12; y < 36; ++y)
        for (int x = 20; x < 44; ++x) kxSetPixel(im, x, y, 30u);
    kxInvert(im);
    FILE *f = fopen(path, "wb");
    if (!f) return 1;
    fprintf(f, "P5\n%d %d\n255\n", kxiGetWidth(im), kxiGetHeight(im));
    for (int y = 0; y < kxiGetHeight(im); ++y)
        fwrite((const unsigned char *)kxiGetData(im) + y * kxiGetPitch(im), 1, (size_t)kxiGetWidth(im), f);
    fclose(f);
    kxDestroyImage(im);
    printf("wrote %s\n", path);
    return 0;
}
