// What the processor and the operating system let the sample converter's block loops use. The
// converter asks once per converter, at creation (sample_converter.cpp); the tests and the
// benchmarks ask to say which loops they ran. Nothing outside convert/, tests/ and bench/ includes it.
#ifndef TOLLVANE_CONVERTER_CPU_H
#define TOLLVANE_CONVERTER_CPU_H

#include <stdint.h>

// The processor has AVX2 and the system saves the YMM registers across task switches.
bool cpu_runs_avx2(void);

// The widest set of block loops (kernels_sse2 or kernels_avx2, converter_record.h) that this
// processor and system run, or kernels_sse2 when the environment variable TOLLVANE_FORCE_SSE2
// is 1, so that both can be compared on one machine.
uint32_t converter_kernel_set(void);

// "sse2" or "avx2".
const char *converter_kernel_name(uint32_t kernel_set);

#endif
