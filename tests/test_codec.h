// A codec the tests install into the ACM of either build, to see what the codec stage asks of a
// codec and how it copes with one that misbehaves: natively it joins the stand-in's registry,
// under Wine it is a function driver added with acmDriverAddA. Installed, it is asked first.
#ifndef TOLLVANE_TEST_CODEC_H
#define TOLLVANE_TEST_CODEC_H

#include <windows.h>
#include <mmreg.h>
#include <msacm.h>

#include <stdint.h>
#include <vector>

struct test_codec_behaviour {
    WORD format_tag = 0x55;          // 0x55 is MPEG Layer-3, for the ".mp3" paths
    WORD extra_bytes = 1;            // cbSize of its records: 1 makes the fmt body odd (19 bytes)
    // The one PCM format it opens from directly and suggests: 16 bits, these channels and rate.
    WORD pcm_channels = 2;
    DWORD pcm_rate = 44100;
    // Its records: pcm_channels, pcm_rate, nBlockAlign = block_bytes_out, bits 0, extra bytes 0xA5;
    // nAvgBytesPerSec is block_bytes_out per source_block_bytes of PCM (per PCM frame for 0).
    // It consumes source in whole blocks of source_block_bytes (0: everything offered) and
    // writes block_bytes_out bytes per block: the block's first source byte, then 0x5A bytes.
    DWORD source_block_bytes = 0;
    DWORD block_bytes_out = 4;
    bool consume_nothing = false;    // uses nothing and writes nothing, whatever it is given
    MMRESULT convert_result = 0;     // returned by every conversion (after doing its work)
    DWORD overreport_source = 0;     // added to cbSrcLengthUsed: claims more than it was given
    DWORD overreport_destination = 0; // added to cbDstLengthUsed
};

struct test_codec_call {
    DWORD flags;        // ACM_STREAMCONVERTF_* of the call
    DWORD source_bytes; // cbSrcLength
    DWORD used_bytes;   // source bytes it consumed (before any over-report)
    DWORD destination_bytes; // cbDstLength
    DWORD written_bytes;     // destination bytes it wrote (before any over-report)
};

// Installs the codec (replacing one installed before) and clears the record of calls.
void test_codec_install(const test_codec_behaviour &behaviour);
void test_codec_remove(void);
// Every conversion call since the install, in order.
const std::vector<test_codec_call> &test_codec_calls(void);
// Its record for the installed behaviour: 18 + extra_bytes bytes.
std::vector<uint8_t> test_codec_format(void);
// Its PCM format (16 bits, pcm_channels, pcm_rate), 18 bytes with cbSize 0.
WAVEFORMATEX test_codec_pcm_format(void);
// Streams opened and not yet closed, and the source format of each stream opened since the
// install. A query open (ACM_STREAMOPENF_QUERY) is not counted under Windows; the stand-in's
// opens and closes the stream at once, so its source is listed there.
int test_codec_streams_open(void);
const std::vector<WAVEFORMATEX> &test_codec_opened_sources(void);

// What both adapters share: the installed behaviour and its answers, in the terms of the ACM
// calls. Only the two adapters call these.
extern test_codec_behaviour test_codec_current;
extern const char test_codec_tag_name[];
// A query open answers alike but opens nothing.
MMRESULT test_codec_open(const WAVEFORMATEX *source, const WAVEFORMATEX *destination, bool query);
void test_codec_close(void);
void test_codec_reset(const test_codec_behaviour &behaviour);
MMRESULT test_codec_convert(const BYTE *source, DWORD source_bytes, BYTE *destination, DWORD destination_bytes,
                            DWORD flags, DWORD *source_used, DWORD *destination_used);
MMRESULT test_codec_size(DWORD input_bytes, DWORD *output_bytes, DWORD flags);
MMRESULT test_codec_suggest(const WAVEFORMATEX *source, WAVEFORMATEX *destination, DWORD destination_bytes,
                            DWORD flags);
MMRESULT test_codec_text(const WAVEFORMATEX *format, char *text, size_t text_chars);

#endif
