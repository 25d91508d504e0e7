/* The public headers are plain C: this program includes them, compiled as
 * C99, and calls into both libraries. */
#include "kxpre.h"
#include "kxthreads.h"

int main(void)
{
    Image *im = kxCreateImage(KIT_GRAY, 4, 3);
    if (!im) return 1;
    kxSetPixel(im, 1, 1, 200u);
    const uint32_t v = kxGetPixel(im, 1, 1);
    kxDestroyImage(im);
    kxtSetThreads(0);
    return v == 200u && kxtGetThreads() == 1 ? 0 : 1;
}
