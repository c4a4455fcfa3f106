// The stand-in ACM's codec registry: what one codec answers, the codecs built in (G.711 u-law
// and A-law, IMA ADPCM), and how a test adds a codec of its own or answers the format chooser.
// Only the stand-in's ACM files, the host program and the tests include this.
#ifndef TOLLVANE_SHIM_ACM_H
#define TOLLVANE_SHIM_ACM_H

#include <windows.h>
#include <mmreg.h>
#include <msacm.h>

// One codec, as the ACM sees a driver: it encodes PCM into format_tag. The registry answers
// for PCM itself (tag details, format descriptions such as "44100 Hz; 16 bits; Stereo").
struct shim_acm_codec {
    WORD format_tag;
    const char *tag_name;           // szFormatTag, e.g. "IMA ADPCM"
    DWORD largest_format_bytes;     // cbFormatSize: the largest record of the tag, 18 + cbSize
    // Opens a stream from source to destination (either may be PCM) or says why not, with
    // ACMERR_NOTPOSSIBLE for a pair it does not convert. *instance is the codec's own state.
    MMRESULT (*stream_open)(const WAVEFORMATEX *source, const WAVEFORMATEX *destination, void **instance);
    // Converts header->pbSrc[0, cbSrcLength) into header->pbDst[0, cbDstLength), setting
    // cbSrcLengthUsed and cbDstLengthUsed; flags are the ACM_STREAMCONVERTF_* of the call.
    MMRESULT (*stream_convert)(void *instance, ACMSTREAMHEADER *header, DWORD flags);
    // acmStreamSize: ACM_STREAMSIZEF_SOURCE or _DESTINATION in flags.
    MMRESULT (*stream_size)(void *instance, DWORD input_bytes, DWORD *output_bytes, DWORD flags);
    void (*stream_close)(void *instance);
    // acmFormatSuggest from source (of this codec's tag, or PCM) into destination, bounded by
    // destination_bytes, honouring the ACM_FORMATSUGGESTF_* flags and the fields they fix.
    MMRESULT (*format_suggest)(const WAVEFORMATEX *source, WAVEFORMATEX *destination, DWORD destination_bytes,
                               DWORD flags);
    // szFormat of one record of this codec's tag ("44100 Hz; 4 bits; Stereo"), or an error.
    MMRESULT (*format_text)(const WAVEFORMATEX *format, char *text, size_t text_chars);
};

// Added codecs are asked before the built-in ones, newest first, as Windows asks a function
// driver that a program added. The record must outlive its registration.
void shim_acm_add_codec(const shim_acm_codec *codec);
void shim_acm_remove_codec(const shim_acm_codec *codec);

// acmFormatChooseA calls this with the record it was given; the answerer writes the chosen
// format and texts as the real chooser would and returns 0, or ACMERR_CANCELED. With none
// installed the chooser answers ACMERR_CANCELED and changes nothing.
typedef MMRESULT (*shim_format_chooser_fn)(ACMFORMATCHOOSEA *choose);
void shim_set_format_chooser(shim_format_chooser_fn answerer);

// The built-in codecs, asked after the added ones in this order (shim_acm_g711.cpp,
// shim_acm_ima.cpp).
extern const shim_acm_codec shim_acm_alaw_codec;
extern const shim_acm_codec shim_acm_ulaw_codec;
extern const shim_acm_codec shim_acm_ima_codec;

// The description Windows' codecs give a format: "44100 Hz; 4 bits; Stereo" (channels 1 or 2).
void shim_acm_describe(DWORD samples_per_sec, WORD bits_per_sample, WORD channels, char *text, size_t text_chars);

#endif
