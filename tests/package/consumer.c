/* Uses the installed library: binarise-free round trip through a few calls. */
#include <kxpre.h>

#include <stdio.h>

int main(void)
{
    Image *im = kxCreateImage(KIT_RGB, 8, 4);
    if (!im) return 1;
    kxSetPixelEx(im, 0x00102030u, NULL, 0);
    kxInvert(im);
    const uint32_t v = kxGetPixel(im, 7, 3);
    kxDestroyImage(im);
    printf("consumer: %08x\n", (unsigned)v);
    return v == 0xFFEFDFCFu ? 0 : 1;
}
