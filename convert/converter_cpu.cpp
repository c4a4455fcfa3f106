// The one place that asks the processor and the system what the converter's block loops may
// use: CPUID for the instructions, XGETBV for the registers the system saves. Both work alike
// in the 32-bit product and in the 64-bit and native builds.
#include "convert/converter_cpu.h"

#include <windows.h>
#include <cpuid.h>

#include "convert/converter_record.h"

// XCR0, the register state the system saves: bit 1 for XMM, bit 2 for YMM. Read through the
// instruction itself, which needs no compiler flag; only called once CPUID says OSXSAVE.
static uint32_t saved_register_state(void)
{
    uint32_t low, high;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return low;
}

// CPUID traps to the hypervisor in a virtual machine, where it takes microseconds: asked once
// per process. 0 until then, 1 without AVX2, 2 with it; two threads asking at once give the same.
static volatile LONG avx2_answer;

static bool ask_cpu_for_avx2(void)
{
    unsigned int a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    const unsigned int osxsave = 1u << 27, avx = 1u << 28;
    if ((c & (osxsave | avx)) != (osxsave | avx)) return false;
    const uint32_t xmm_and_ymm = 6;
    if ((saved_register_state() & xmm_and_ymm) != xmm_and_ymm) return false;
    if (__get_cpuid_max(0, nullptr) < 7) return false;
    __cpuid_count(7, 0, a, b, c, d);
    return (b & (1u << 5)) != 0; // AVX2
}

bool cpu_runs_avx2(void)
{
    if (avx2_answer == 0) avx2_answer = ask_cpu_for_avx2() ? 2 : 1;
    return avx2_answer == 2;
}

static bool sse2_forced(void)
{
    char value[4];
    return GetEnvironmentVariableA("TOLLVANE_FORCE_SSE2", value, sizeof value) == 1 && value[0] == '1';
}

uint32_t converter_kernel_set(void)
{
    if (sse2_forced() || !cpu_runs_avx2()) return kernels_sse2;
    return kernels_avx2;
}

const char *converter_kernel_name(uint32_t kernel_set)
{
    return kernel_set == kernels_avx2 ? "avx2" : "sse2";
}
