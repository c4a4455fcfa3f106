// Stand-in for <mmreg.h>: the stream format record, packed to its 18 on-disk bytes.
#ifndef TOLLVANE_SHIM_MMREG_H
#define TOLLVANE_SHIM_MMREG_H

#include <windows.h>

#define WAVE_FORMAT_PCM 1
#define WAVE_FORMAT_ADPCM 0x0002
#define WAVE_FORMAT_DVI_ADPCM 0x0011
#define WAVE_FORMAT_IMA_ADPCM (WAVE_FORMAT_DVI_ADPCM)
#define WAVE_FORMAT_MPEGLAYER3 0x0055
#define WAVE_FORMAT_EXTENSIBLE 0xFFFE

#pragma pack(push, 1)
typedef struct tWAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
} WAVEFORMATEX, *LPWAVEFORMATEX;
#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(WAVEFORMATEX) == 18, "the stream format record is 18 bytes on disk");
#endif

#endif
