/* The companion header is plain C: this program includes it, compiled as C99,
 * and labels a small image. */
#include "kxextra.h"

#include <stdio.h>

int main(void)
{
    int32_t labels[12];
    KxxComponent stats[3];
    Image *im = kxCreateImage(KIT_BIN, 4, 3);
    int n;
    if (!im) return 1;
    im->data[0] = 1;
    im->data[11] = 1;
    n = kxxLabel(im, 8, labels);
    kxDestroyImage(im);
    if (n != 2 || !kxxComponentStats(labels, 4, 3, n, stats)) return 1;
    printf("%d components, sizeof(KxxComponent) %u\n", n, (unsigned)sizeof(KxxComponent));
    return stats[2].area == 1 && stats[2].left == 3 && stats[2].top == 2 && sizeof(KxxComponent) == 40 ? 0 : 1;
}
