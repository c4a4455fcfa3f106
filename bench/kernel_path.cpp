// Prints the set of block loops ("sse2" or "avx2") that the sample converter picks at creation
// on this machine with this environment (TOLLVANE_FORCE_SSE2), for the end-to-end benchmark,
// which runs tollvane-play and cannot ask it.
#include <stdio.h>

#include "convert/converter_cpu.h"

int main()
{
    printf("%s\n", converter_kernel_name(converter_kernel_set()));
    return 0;
}
