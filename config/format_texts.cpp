// The format texts of the configuration dialog and the ACM format chooser that changes its two
// working copies, which the dialog owns and hands in. The texts are always asked of the ACM for
// the record itself: Wine's chooser hands back garbage in the chooser record's own text fields.
#include "config/format_texts.h"

#include <mmreg.h>
#include <msacm.h>
#include <string.h>

#include "config/config_dialog_ids.h"
#include "config/settings_store.h"

void describe_codec_format(const BYTE *codec_format, char *text)
{
    // The ACM's records are not const; the queries only read the format.
    LPWAVEFORMATEX format = reinterpret_cast<LPWAVEFORMATEX>(const_cast<BYTE *>(codec_format));
    char *end = text;
    ACMFORMATTAGDETAILSA tag_details;
    memset(&tag_details, 0, sizeof tag_details);
    tag_details.cbStruct = sizeof tag_details; // 72
    tag_details.dwFormatTag = format->wFormatTag;
    if (acmFormatTagDetailsA(nullptr, &tag_details, ACM_FORMATTAGDETAILSF_FORMATTAG) == MMSYSERR_NOERROR)
        end += wsprintfA(end, "%s\r\n", tag_details.szFormatTag);

    ACMFORMATDETAILSA details;
    memset(&details, 0, sizeof details);
    details.cbStruct = sizeof details; // 152 on Windows
    details.dwFormatTag = format->wFormatTag;
    details.pwfx = format;
    details.cbwfx = format_buffer_bytes;
    if (acmFormatDetailsA(nullptr, &details, ACM_FORMATDETAILSF_FORMAT) == MMSYSERR_NOERROR)
        end += wsprintfA(end, "%s", details.szFormat);
    *end = 0;
}

void describe_pcm_format(const WAVEFORMATEX *pcm_format, char *text)
{
    ACMFORMATDETAILSA details;
    memset(&details, 0, sizeof details);
    details.cbStruct = sizeof details;
    details.dwFormatTag = WAVE_FORMAT_PCM; // whatever tag the record holds
    details.pwfx = const_cast<LPWAVEFORMATEX>(pcm_format);
    details.cbwfx = sizeof *pcm_format;
    text[0] = 0;
    if (acmFormatDetailsA(nullptr, &details, ACM_FORMATDETAILSF_FORMAT) == MMSYSERR_NOERROR)
        wsprintfA(text, "%s", details.szFormat);
}

void choose_format(HWND dialog, BOOL single_file, BYTE *codec_format, WAVEFORMATEX *pcm_format)
{
    // The single-file choice is made in a buffer of codec size that starts as a copy of the PCM
    // working copy: Wine's chooser offers every tag although the list is restricted to PCM, and
    // writes a larger record than the 18 bytes allowed. Such writes land in this buffer, and
    // only a PCM choice reaches the working copy.
    BYTE single_choice[format_buffer_bytes];
    memset(single_choice, 0, sizeof single_choice);
    memcpy(single_choice, pcm_format, sizeof *pcm_format);

    ACMFORMATCHOOSEA choose;
    memset(&choose, 0, sizeof choose);
    choose.cbStruct = sizeof choose; // 232 on Windows
    choose.fdwStyle = ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT;
    choose.hwndOwner = dialog;
    if (single_file) {
        choose.pwfx = reinterpret_cast<LPWAVEFORMATEX>(single_choice);
        choose.cbwfx = sizeof *pcm_format;
        choose.fdwEnum = ACM_FORMATENUMF_WFORMATTAG;
        choose.pwfxEnum = pcm_format;
    } else {
        choose.pwfx = reinterpret_cast<LPWAVEFORMATEX>(codec_format);
        choose.cbwfx = format_buffer_bytes;
    }
    if (acmFormatChooseA(&choose) != MMSYSERR_NOERROR) return; // cancelled or failed

    char text[format_text_chars];
    if (single_file) {
        const WAVEFORMATEX *chosen = reinterpret_cast<const WAVEFORMATEX *>(single_choice);
        if (chosen->wFormatTag != WAVE_FORMAT_PCM) return; // a single file holds PCM only
        memcpy(pcm_format, single_choice, sizeof *pcm_format);
        describe_pcm_format(pcm_format, text);
        SetDlgItemTextA(dialog, IDC_SINGLE_FORMAT, text);
    } else {
        describe_codec_format(codec_format, text);
        SetDlgItemTextA(dialog, IDC_CODEC_FORMAT, text);
    }
}
