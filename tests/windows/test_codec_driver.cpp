// The test codec in the Windows build: an ACM function driver that the test program adds to its
// own process with acmDriverAddA, answering the driver messages from test_codec.cpp. The ACM
// asks it before the system's codecs. mingw ships no header for the driver side of the ACM, so
// the messages and the records the ACM passes to a driver are written out here.
#include "tests/test_codec.h"

#include <mmsystem.h>
#include <string.h>

// ACMDM_BASE, from msacm.h, is DRV_USER + 0x2000 = 0x6000.
#define ACMDM_DRIVER_DETAILS (ACMDM_BASE + 10)
#define ACMDM_FORMATTAG_DETAILS (ACMDM_BASE + 25)
#define ACMDM_FORMAT_DETAILS (ACMDM_BASE + 26)
#define ACMDM_FORMAT_SUGGEST (ACMDM_BASE + 27)
#define ACMDM_STREAM_OPEN (ACMDM_BASE + 76)
#define ACMDM_STREAM_CLOSE (ACMDM_BASE + 77)
#define ACMDM_STREAM_SIZE (ACMDM_BASE + 78)
#define ACMDM_STREAM_CONVERT (ACMDM_BASE + 79)
#define ACMDM_STREAM_PREPARE (ACMDM_BASE + 81)
#define ACMDM_STREAM_UNPREPARE (ACMDM_BASE + 82)

// lParam1 of the stream messages: the ACM's record of one stream.
struct driver_stream_instance {
    DWORD cbStruct;
    LPWAVEFORMATEX pwfxSrc;
    LPWAVEFORMATEX pwfxDst;
    LPWAVEFILTER pwfltr;
    DWORD_PTR dwCallback;
    DWORD_PTR dwInstance;
    DWORD fdwOpen;
    DWORD fdwDriver;
    DWORD_PTR dwDriver;
    HACMSTREAM has;
};

// lParam2 of ACMDM_STREAM_CONVERT: the program's ACMSTREAMHEADER, whose reserved words carry
// the ACM's own fields (the flags of the call first). msacm.h packs it to one byte, so on x86_64
// a pointer follows a 32-bit field with no gap; the driver's own records are laid out naturally.
#pragma pack(push, 1)
struct driver_stream_header {
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
    DWORD fdwConvert;
    driver_stream_header *padshNext;
    DWORD fdwDriver;
    DWORD_PTR dwDriver;
    DWORD fdwPrepared;
    DWORD_PTR dwPrepared;
    LPBYTE pbPreparedSrc;
    DWORD cbPreparedSrcLength;
    LPBYTE pbPreparedDst;
    DWORD cbPreparedDstLength;
};
#pragma pack(pop)
static_assert(sizeof(driver_stream_header) == sizeof(ACMSTREAMHEADER), "the ACM hands over the program's header");

// lParam2 of ACMDM_STREAM_SIZE.
struct driver_stream_size {
    DWORD cbStruct;
    DWORD fdwSize;
    DWORD cbSrcLength;
    DWORD cbDstLength;
};

// lParam1 of ACMDM_FORMAT_SUGGEST.
struct driver_format_suggest {
    DWORD cbStruct;
    DWORD fdwSuggest;
    LPWAVEFORMATEX pwfxSrc;
    DWORD cbwfxSrc;
    LPWAVEFORMATEX pwfxDst;
    DWORD cbwfxDst;
};

static HACMDRIVERID driver_id;
// The driver the ACM would take PCM from without this one, and PCM's index among its tags.
static HACMDRIVER pcm_driver;
static DWORD pcm_driver_tag_index;

static void copy_wide(WCHAR *to, size_t to_chars, const char *from)
{
    size_t i = 0;
    for (; i + 1 < to_chars && from[i]; ++i) to[i] = static_cast<unsigned char>(from[i]);
    to[i] = 0;
}

static LRESULT driver_details(ACMDRIVERDETAILSW *details)
{
    ACMDRIVERDETAILSW answer = {};
    answer.cbStruct = details->cbStruct < sizeof answer ? details->cbStruct : sizeof answer;
    answer.fccType = ACMDRIVERDETAILS_FCCTYPE_AUDIOCODEC;
    answer.fccComp = ACMDRIVERDETAILS_FCCCOMP_UNDEFINED;
    answer.vdwACM = 0x03320000; // the ACM version it was written for, 3.50
    answer.vdwDriver = 0x01000000;
    answer.fdwSupport = ACMDRIVERDETAILS_SUPPORTF_CODEC;
    answer.cFormatTags = 2; // PCM and its own: the ACM offers a driver only pairs of its listed tags
    copy_wide(answer.szShortName, ACMDRIVERDETAILS_SHORTNAME_CHARS, test_codec_tag_name);
    copy_wide(answer.szLongName, ACMDRIVERDETAILS_LONGNAME_CHARS, test_codec_tag_name);
    memcpy(details, &answer, answer.cbStruct);
    return MMSYSERR_NOERROR;
}

// PCM is listed (index 0), as the ACM offers a driver only pairs of its listed tags. Where the
// ACM takes PCM's tag and formats from the first driver that lists PCM (the format chooser does),
// that is this one, so it answers for PCM as the driver that comes first without it does.
static LRESULT format_tag_details(ACMFORMATTAGDETAILSW *details, DWORD flags)
{
    const test_codec_behaviour &b = test_codec_current;
    bool pcm;
    switch (flags) {
    case ACM_FORMATTAGDETAILSF_INDEX:
        if (details->dwFormatTagIndex > 1) return ACMERR_NOTPOSSIBLE;
        pcm = details->dwFormatTagIndex == 0;
        break;
    case ACM_FORMATTAGDETAILSF_FORMATTAG:
    case ACM_FORMATTAGDETAILSF_LARGESTSIZE:
        pcm = details->dwFormatTag == WAVE_FORMAT_PCM;
        if (pcm && !pcm_driver) return ACMERR_NOTPOSSIBLE;
        // WAVE_FORMAT_UNKNOWN asks for the largest of all its tags: its own.
        if (!pcm && details->dwFormatTag != b.format_tag &&
            !(flags == ACM_FORMATTAGDETAILSF_LARGESTSIZE && details->dwFormatTag == WAVE_FORMAT_UNKNOWN))
            return ACMERR_NOTPOSSIBLE;
        break;
    default:
        return MMSYSERR_NOTSUPPORTED;
    }
    if (pcm && pcm_driver) {
        ACMFORMATTAGDETAILSW theirs = {};
        theirs.cbStruct = sizeof theirs;
        theirs.dwFormatTagIndex = pcm_driver_tag_index;
        MMRESULT result = acmFormatTagDetailsW(pcm_driver, &theirs, ACM_FORMATTAGDETAILSF_INDEX);
        if (result != MMSYSERR_NOERROR) return result;
        theirs.dwFormatTagIndex = 0;
        theirs.cbStruct = details->cbStruct;
        memcpy(details, &theirs, details->cbStruct < sizeof theirs ? details->cbStruct : sizeof theirs);
        return MMSYSERR_NOERROR;
    }
    details->dwFormatTagIndex = pcm ? 0 : 1;
    details->dwFormatTag = pcm ? WAVE_FORMAT_PCM : b.format_tag;
    details->cbFormatSize = pcm ? 16 : sizeof(WAVEFORMATEX) + b.extra_bytes; // 16: PCM without cbSize
    details->fdwSupport = ACMDRIVERDETAILS_SUPPORTF_CODEC;
    details->cStandardFormats = pcm ? 0 : 1;
    copy_wide(details->szFormatTag, ACMFORMATTAGDETAILS_FORMATTAG_CHARS, pcm ? "PCM" : test_codec_tag_name);
    return MMSYSERR_NOERROR;
}

static LRESULT format_details(ACMFORMATDETAILSW *details, DWORD flags)
{
    if (details->dwFormatTag == WAVE_FORMAT_PCM && flags == ACM_FORMATDETAILSF_INDEX && pcm_driver) {
        ACMFORMATDETAILSW theirs = *details;
        theirs.cbStruct = sizeof theirs;
        theirs.fdwSupport = 0; // the ACM refuses a request that carries an answer already
        MMRESULT result = acmFormatDetailsW(pcm_driver, &theirs, ACM_FORMATDETAILSF_INDEX);
        if (result != MMSYSERR_NOERROR) return result;
        theirs.cbStruct = details->cbStruct;
        memcpy(details, &theirs, details->cbStruct < sizeof theirs ? details->cbStruct : sizeof theirs);
        return MMSYSERR_NOERROR;
    }
    std::vector<uint8_t> record = test_codec_format();
    if (details->dwFormatTag != test_codec_current.format_tag) return ACMERR_NOTPOSSIBLE;
    switch (flags) {
    case ACM_FORMATDETAILSF_INDEX:
        if (details->dwFormatIndex != 0) return ACMERR_NOTPOSSIBLE;
        if (details->cbwfx < record.size()) return MMSYSERR_INVALPARAM;
        memcpy(details->pwfx, record.data(), record.size());
        break;
    case ACM_FORMATDETAILSF_FORMAT:
        break;
    default:
        return MMSYSERR_NOTSUPPORTED;
    }
    char text[ACMFORMATDETAILS_FORMAT_CHARS];
    MMRESULT result = test_codec_text(details->pwfx, text, sizeof text);
    if (result != MMSYSERR_NOERROR) return result;
    details->fdwSupport = ACMDRIVERDETAILS_SUPPORTF_CODEC;
    copy_wide(details->szFormat, ACMFORMATDETAILS_FORMAT_CHARS, text);
    return MMSYSERR_NOERROR;
}

static LRESULT stream_open(driver_stream_instance *stream)
{
    bool query = (stream->fdwOpen & ACM_STREAMOPENF_QUERY) != 0;
    MMRESULT result = test_codec_open(stream->pwfxSrc, stream->pwfxDst, query);
    if (result == MMSYSERR_NOERROR && !query) stream->dwDriver = 1; // no state of its own
    return result;
}

static LRESULT stream_convert(driver_stream_header *header)
{
    return test_codec_convert(header->pbSrc, header->cbSrcLength, header->pbDst, header->cbDstLength,
                              header->fdwConvert, &header->cbSrcLengthUsed, &header->cbDstLengthUsed);
}

static LRESULT stream_size(driver_stream_size *size)
{
    bool source = (size->fdwSize & ACM_STREAMSIZEF_QUERYMASK) == ACM_STREAMSIZEF_SOURCE;
    return test_codec_size(source ? size->cbSrcLength : size->cbDstLength,
                           source ? &size->cbDstLength : &size->cbSrcLength, size->fdwSize);
}

static LRESULT CALLBACK test_codec_driver_proc(DWORD_PTR, HACMDRIVERID, UINT message, LPARAM lparam1,
                                               LPARAM lparam2)
{
    switch (message) {
    case DRV_LOAD:
    case DRV_ENABLE:
    case DRV_OPEN:
    case DRV_CLOSE:
    case DRV_DISABLE:
    case DRV_FREE:
        return 1;
    case ACMDM_DRIVER_DETAILS:
        return driver_details(reinterpret_cast<ACMDRIVERDETAILSW *>(lparam1));
    case ACMDM_FORMATTAG_DETAILS:
        return format_tag_details(reinterpret_cast<ACMFORMATTAGDETAILSW *>(lparam1), static_cast<DWORD>(lparam2));
    case ACMDM_FORMAT_DETAILS:
        return format_details(reinterpret_cast<ACMFORMATDETAILSW *>(lparam1), static_cast<DWORD>(lparam2));
    case ACMDM_FORMAT_SUGGEST: {
        driver_format_suggest *suggest = reinterpret_cast<driver_format_suggest *>(lparam1);
        return test_codec_suggest(suggest->pwfxSrc, suggest->pwfxDst, suggest->cbwfxDst, suggest->fdwSuggest);
    }
    case ACMDM_STREAM_OPEN:
        return stream_open(reinterpret_cast<driver_stream_instance *>(lparam1));
    case ACMDM_STREAM_CLOSE:
        test_codec_close();
        return MMSYSERR_NOERROR;
    case ACMDM_STREAM_SIZE:
        return stream_size(reinterpret_cast<driver_stream_size *>(lparam2));
    case ACMDM_STREAM_CONVERT:
        return stream_convert(reinterpret_cast<driver_stream_header *>(lparam2));
    case ACMDM_STREAM_PREPARE:
    case ACMDM_STREAM_UNPREPARE:
        return MMSYSERR_NOTSUPPORTED; // the ACM prepares the header itself
    default:
        return message < DRV_USER ? 0 : MMSYSERR_NOTSUPPORTED;
    }
}

static BOOL CALLBACK find_pcm_driver(HACMDRIVERID id, DWORD_PTR, DWORD)
{
    ACMDRIVERDETAILSW details = {};
    details.cbStruct = sizeof details;
    HACMDRIVER driver = NULL;
    if (acmDriverDetailsW(id, &details, 0) != MMSYSERR_NOERROR || acmDriverOpen(&driver, id, 0) != MMSYSERR_NOERROR)
        return TRUE;
    for (DWORD i = 0; i < details.cFormatTags; ++i) {
        ACMFORMATTAGDETAILSW tag = {};
        tag.cbStruct = sizeof tag;
        tag.dwFormatTagIndex = i;
        if (acmFormatTagDetailsW(driver, &tag, ACM_FORMATTAGDETAILSF_INDEX) == MMSYSERR_NOERROR &&
            tag.dwFormatTag == WAVE_FORMAT_PCM) {
            pcm_driver = driver;
            pcm_driver_tag_index = i;
            return FALSE;
        }
    }
    acmDriverClose(driver, 0);
    return TRUE;
}

// The ACM reads a driver's tags once, when it is added: a changed behaviour needs a new driver.
void test_codec_install(const test_codec_behaviour &behaviour)
{
    test_codec_remove();
    test_codec_reset(behaviour);
    acmDriverEnum(find_pcm_driver, 0, 0);
    if (acmDriverAddA(&driver_id, GetModuleHandleA(NULL), reinterpret_cast<LPARAM>(test_codec_driver_proc), 0,
                      ACM_DRIVERADDF_FUNCTION | ACM_DRIVERADDF_LOCAL) != MMSYSERR_NOERROR)
        driver_id = NULL; // the codec's calls then stay empty, which the tests notice
}

void test_codec_remove(void)
{
    if (driver_id) acmDriverRemove(driver_id, 0);
    driver_id = NULL;
    if (pcm_driver) acmDriverClose(pcm_driver, 0);
    pcm_driver = NULL;
}
