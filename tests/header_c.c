/* The public header is plain C: this program includes it, compiled as C99. */
#include "kxpre.h"

#include <stdio.h>

int main(void)
{
    Image *im = kxCreateImage(KIT_GRAY, 4, 3);
    if (!im) return 1;
    kxSetPixel(im, 1, 1, 200u);
    const uint32_t v = kxGetPixel(im, 1, 1);
    kxDestroyImage(im);
    printf("pixel %u\n", (unsigned)v);
    return v == 200u ? 0 : 1;
}
