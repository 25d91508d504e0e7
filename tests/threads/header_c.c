/* The threads header is plain C: this program includes it, compiled as C99,
 * and turns threads on and off again. */
#include "kxthreads.h"

int main(void)
{
    kxtSetThreads(3);
    if (kxtGetThreads() != 3) return 1;
    kxtSetThreads(0);
    return kxtGetThreads() == 1 ? 0 : 1;
}
