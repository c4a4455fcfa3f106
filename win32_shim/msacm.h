// Stand-in for <msacm.h>: the Audio Compression Manager calls the plug-in makes, with Windows'
// record layouts, names and values. Behind them is a small codec registry (shim_acm.h) with
// real G.711 and IMA ADPCM encoders and whatever codecs a test adds.
#ifndef TOLLVANE_SHIM_MSACM_H
#define TOLLVANE_SHIM_MSACM_H

#include <windows.h>
#include <mmreg.h>

typedef UINT MMRESULT;
typedef uintptr_t DWORD_PTR;
typedef BYTE *LPBYTE;
typedef struct shim_hacmdriver_tag *HACMDRIVER;
typedef struct shim_hacmstream_tag *HACMSTREAM;
typedef HACMSTREAM *LPHACMSTREAM;
typedef struct tWAVEFILTER *LPWAVEFILTER; // never used: the plug-in passes no filter

#define MMSYSERR_NOERROR 0
#define MMSYSERR_ERROR 1
#define MMSYSERR_INVALHANDLE 5
#define MMSYSERR_NOMEM 7
#define MMSYSERR_NOTSUPPORTED 8
#define MMSYSERR_INVALFLAG 10
#define MMSYSERR_INVALPARAM 11

#define ACMERR_BASE 512
#define ACMERR_NOTPOSSIBLE (ACMERR_BASE + 0)
#define ACMERR_BUSY (ACMERR_BASE + 1)
#define ACMERR_UNPREPARED (ACMERR_BASE + 2)
#define ACMERR_CANCELED (ACMERR_BASE + 3)

#define ACM_STREAMOPENF_QUERY 0x00000001
#define ACM_STREAMOPENF_ASYNC 0x00000002
#define ACM_STREAMOPENF_NONREALTIME 0x00000004

#define ACM_STREAMSIZEF_SOURCE 0x00000000
#define ACM_STREAMSIZEF_DESTINATION 0x00000001
#define ACM_STREAMSIZEF_QUERYMASK 0x0000000F

#define ACM_STREAMCONVERTF_BLOCKALIGN 0x00000004
#define ACM_STREAMCONVERTF_START 0x00000010
#define ACM_STREAMCONVERTF_END 0x00000020

#define ACMSTREAMHEADER_STATUSF_DONE 0x00010000
#define ACMSTREAMHEADER_STATUSF_PREPARED 0x00020000
#define ACMSTREAMHEADER_STATUSF_INQUEUE 0x00100000

#define ACM_FORMATSUGGESTF_WFORMATTAG 0x00010000
#define ACM_FORMATSUGGESTF_NCHANNELS 0x00020000
#define ACM_FORMATSUGGESTF_NSAMPLESPERSEC 0x00040000
#define ACM_FORMATSUGGESTF_WBITSPERSAMPLE 0x00080000
#define ACM_FORMATSUGGESTF_TYPEMASK 0x00FF0000

#define ACM_FORMATTAGDETAILSF_INDEX 0x00000000
#define ACM_FORMATTAGDETAILSF_FORMATTAG 0x00000001
#define ACM_FORMATTAGDETAILSF_LARGESTSIZE 0x00000002
#define ACM_FORMATDETAILSF_INDEX 0x00000000
#define ACM_FORMATDETAILSF_FORMAT 0x00000001

#define ACM_FORMATENUMF_WFORMATTAG 0x00010000

#define ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT 0x00000040

#define ACMDRIVERDETAILS_SUPPORTF_CODEC 0x00000001
#define ACMDRIVERDETAILS_SUPPORTF_CONVERTER 0x00000002

#define ACMFORMATTAGDETAILS_FORMATTAG_CHARS 48
#define ACMFORMATDETAILS_FORMAT_CHARS 128

// The stand-in's build may have 64-bit pointers: the records keep Windows' field order and
// packing, so only their pointer fields (and sizes) grow.
#pragma pack(push, 1)
typedef struct tACMSTREAMHEADER {
    DWORD cbStruct;
    DWORD fdwStatus;
    DWORD_PTR dwUser;
    LPBYTE pbSrc;
    DWORD cbSrcLength;
    DWORD cbSrcLengthUsed;
    DWORD_PTR dwSrcUser;
    LPBYTE pbDst;
    DWORD cbDstLength;
    DWORD cbDstLengthUsed;
    DWORD_PTR dwDstUser;
    DWORD dwReservedDriver[10];
} ACMSTREAMHEADER, *PACMSTREAMHEADER, *LPACMSTREAMHEADER;

typedef struct tACMFORMATTAGDETAILSA {
    DWORD cbStruct;
    DWORD dwFormatTagIndex;
    DWORD dwFormatTag;
    DWORD cbFormatSize;
    DWORD fdwSupport;
    DWORD cStandardFormats;
    char szFormatTag[ACMFORMATTAGDETAILS_FORMATTAG_CHARS];
} ACMFORMATTAGDETAILSA, *PACMFORMATTAGDETAILSA, *LPACMFORMATTAGDETAILSA;

typedef struct tACMFORMATDETAILSA {
    DWORD cbStruct;
    DWORD dwFormatIndex;
    DWORD dwFormatTag;
    DWORD fdwSupport;
    LPWAVEFORMATEX pwfx;
    DWORD cbwfx;
    char szFormat[ACMFORMATDETAILS_FORMAT_CHARS];
} ACMFORMATDETAILSA, *PACMFORMATDETAILSA, *LPACMFORMATDETAILSA;

typedef UINT (CALLBACK *ACMFORMATCHOOSEHOOKPROCA)(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

typedef struct tACMFORMATCHOOSEA {
    DWORD cbStruct;
    DWORD fdwStyle;
    HWND hwndOwner;
    LPWAVEFORMATEX pwfx;
    DWORD cbwfx;
    LPCSTR pszTitle;
    char szFormatTag[ACMFORMATTAGDETAILS_FORMATTAG_CHARS];
    char szFormat[ACMFORMATDETAILS_FORMAT_CHARS];
    LPSTR pszName;
    DWORD cchName;
    DWORD fdwEnum;
    LPWAVEFORMATEX pwfxEnum;
    HINSTANCE hInstance;
    LPCSTR pszTemplateName;
    LPARAM lCustData;
    ACMFORMATCHOOSEHOOKPROCA pfnHook;
} ACMFORMATCHOOSEA, *PACMFORMATCHOOSEA, *LPACMFORMATCHOOSEA;
#pragma pack(pop)

#ifdef __cplusplus
extern "C" {
#endif

MMRESULT acmStreamOpen(LPHACMSTREAM stream, HACMDRIVER driver, LPWAVEFORMATEX source, LPWAVEFORMATEX destination,
                       LPWAVEFILTER filter, DWORD_PTR callback, DWORD_PTR instance, DWORD flags);
MMRESULT acmStreamClose(HACMSTREAM stream, DWORD flags);
MMRESULT acmStreamSize(HACMSTREAM stream, DWORD input_bytes, LPDWORD output_bytes, DWORD flags);
MMRESULT acmStreamPrepareHeader(HACMSTREAM stream, LPACMSTREAMHEADER header, DWORD flags);
MMRESULT acmStreamUnprepareHeader(HACMSTREAM stream, LPACMSTREAMHEADER header, DWORD flags);
MMRESULT acmStreamConvert(HACMSTREAM stream, LPACMSTREAMHEADER header, DWORD flags);
MMRESULT acmFormatSuggest(HACMDRIVER driver, LPWAVEFORMATEX source, LPWAVEFORMATEX destination,
                          DWORD destination_bytes, DWORD flags);
MMRESULT acmFormatTagDetailsA(HACMDRIVER driver, LPACMFORMATTAGDETAILSA details, DWORD flags);
MMRESULT acmFormatDetailsA(HACMDRIVER driver, LPACMFORMATDETAILSA details, DWORD flags);
// Answered by whoever installed a chooser answerer (shim_acm.h); with none, as a cancel.
MMRESULT acmFormatChooseA(LPACMFORMATCHOOSEA choose);

#ifdef __cplusplus
}
#endif

#endif
