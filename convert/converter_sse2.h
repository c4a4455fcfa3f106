// What the sample converter's block loops (converter_equal_rate_loops.cpp and
// converter_resample_kernels.cpp) need of the machine: SSE2 and little-endian words, and the
// few vector loads and stores both kinds of loop use. Only inline helpers; nothing outside
// convert/ includes it.
#ifndef TOLLVANE_CONVERTER_SSE2_H
#define TOLLVANE_CONVERTER_SSE2_H

#include <stdint.h>

// Whole words are loaded and stored as little-endian samples; the plug-in runs on x86 only.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the block loops assume a little-endian machine"
#endif

// Every build of the plug-in has SSE2: x86_64 always, i686 by its flags (-msse2, for the same
// float arithmetic as x86_64).
#if !defined(__SSE2__)
#error "the block loops need SSE2"
#endif
#include <emmintrin.h>

#if defined(__GNUC__)
#define ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define ALWAYS_INLINE inline
#endif

static ALWAYS_INLINE __m128i load_16_bytes(const uint8_t *p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

static ALWAYS_INLINE void store_8_bytes(uint8_t *p, __m128i v)
{
    _mm_storel_epi64(reinterpret_cast<__m128i *>(p), v);
}

#endif
