// The test codec in the native build: one entry in the stand-in's codec registry whose answers
// all come from test_codec.cpp. The registry keeps a pointer to the entry, so it is static.
#include "tests/test_codec.h"

#include "win32_shim/shim_acm.h"

static int stream_instance; // the codec keeps no per-stream state; any non-null pointer will do

static MMRESULT shim_test_stream_open(const WAVEFORMATEX *source, const WAVEFORMATEX *destination, void **instance)
{
    MMRESULT result = test_codec_open(source, destination, false);
    if (result == MMSYSERR_NOERROR) *instance = &stream_instance;
    return result;
}

static MMRESULT shim_test_stream_convert(void *, ACMSTREAMHEADER *header, DWORD flags)
{
    return test_codec_convert(header->pbSrc, header->cbSrcLength, header->pbDst, header->cbDstLength, flags,
                              &header->cbSrcLengthUsed, &header->cbDstLengthUsed);
}

static MMRESULT shim_test_stream_size(void *, DWORD input_bytes, DWORD *output_bytes, DWORD flags)
{
    return test_codec_size(input_bytes, output_bytes, flags);
}

static void shim_test_stream_close(void *) { test_codec_close(); }

static shim_acm_codec shim_test_codec = {
    0x55,
    test_codec_tag_name,
    18,
    shim_test_stream_open,
    shim_test_stream_convert,
    shim_test_stream_size,
    shim_test_stream_close,
    test_codec_suggest,
    test_codec_text,
};
static bool installed;

void test_codec_install(const test_codec_behaviour &behaviour)
{
    test_codec_remove();
    test_codec_reset(behaviour);
    shim_test_codec.format_tag = behaviour.format_tag;
    shim_test_codec.largest_format_bytes = sizeof(WAVEFORMATEX) + behaviour.extra_bytes;
    shim_acm_add_codec(&shim_test_codec);
    installed = true;
}

void test_codec_remove(void)
{
    if (!installed) return;
    shim_acm_remove_codec(&shim_test_codec);
    installed = false;
}
