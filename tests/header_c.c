/* The public headers are plain C: this program includes them, compiled as
 * C99, and turns threads on and off again. */
#include "kxpre.h"
#include "kxthreads.h"

#include <stdio.h>

int main(void)
{
    Image *im = kxCreateImage(KIT_GRAY, 4, 3);
    if (!im) return 1;
    kxSetPixel(im, 1, 1, 200u);
    const uint32_t v = kxGetPixel(im, 1, 1);
    kxDestroyImage(im);
    printf("pixel %u\n", (unsigned)v);
    kxtSetThreads(3);
    if (kxtGetThreads() != 3) return 1;
    kxtSetThreads(0);
    return v == 200u && kxtGetThreads() == 1 ? 0 : 1;
}
