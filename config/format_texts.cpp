// The format texts of the configuration dialog and the ACM format chooser that changes the
// two working copies. The texts are always asked of the ACM for the record itself: Wine's
// chooser hands back garbage in the chooser record's own text fields.
#include "format_texts.h"

#include <mmreg.h>
#include <msacm.h>
#include <string.h>

#include "config_dialog_ids.h"
#include "settings_store.h"

static LPWAVEFORMATEX codec_working_copy(void) { return reinterpret_cast<LPWAVEFORMATEX>(dlg_wfx); }

void describe_codec_format(char *text)
{
    char *end = text;
    ACMFORMATTAGDETAILSA tag_details;
    memset(&tag_details, 0, sizeof tag_details);
    tag_details.cbStruct = sizeof tag_details; // 72
    tag_details.dwFormatTag = codec_working_copy()->wFormatTag;
    if (acmFormatTagDetailsA(nullptr, &tag_details, ACM_FORMATTAGDETAILSF_FORMATTAG) == MMSYSERR_NOERROR)
        end += wsprintfA(end, "%s\r\n", tag_details.szFormatTag);

    ACMFORMATDETAILSA details;
    memset(&details, 0, sizeof details);
    details.cbStruct = sizeof details; // 152 on Windows
    details.dwFormatTag = codec_working_copy()->wFormatTag;
    details.pwfx = codec_working_copy();
    details.cbwfx = format_buffer_bytes;
    if (acmFormatDetailsA(nullptr, &details, ACM_FORMATDETAILSF_FORMAT) == MMSYSERR_NOERROR)
        end += wsprintfA(end, "%s", details.szFormat);
    *end = 0;
}

void describe_pcm_format(char *text)
{
    ACMFORMATDETAILSA details;
    memset(&details, 0, sizeof details);
    details.cbStruct = sizeof details;
    details.dwFormatTag = WAVE_FORMAT_PCM; // whatever tag the record holds
    details.pwfx = &dlg_wfx1;
    details.cbwfx = sizeof dlg_wfx1;
    text[0] = 0;
    if (acmFormatDetailsA(nullptr, &details, ACM_FORMATDETAILSF_FORMAT) == MMSYSERR_NOERROR)
        wsprintfA(text, "%s", details.szFormat);
}

void choose_format(HWND dialog, BOOL single_file)
{
    // The single-file choice is made in a buffer of codec size that starts as a copy of
    // dlg_wfx1: Wine's chooser offers every tag although the list is restricted to PCM, and
    // writes a larger record than the 18 bytes allowed. Such writes land in this buffer,
    // and only a PCM choice reaches the working copy.
    BYTE single_choice[format_buffer_bytes];
    memset(single_choice, 0, sizeof single_choice);
    memcpy(single_choice, &dlg_wfx1, sizeof dlg_wfx1);

    ACMFORMATCHOOSEA choose;
    memset(&choose, 0, sizeof choose);
    choose.cbStruct = sizeof choose; // 232 on Windows
    choose.fdwStyle = ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT;
    choose.hwndOwner = dialog;
    if (single_file) {
        choose.pwfx = reinterpret_cast<LPWAVEFORMATEX>(single_choice);
        choose.cbwfx = sizeof dlg_wfx1;
        choose.fdwEnum = ACM_FORMATENUMF_WFORMATTAG;
        choose.pwfxEnum = &dlg_wfx1;
    } else {
        choose.pwfx = codec_working_copy();
        choose.cbwfx = format_buffer_bytes;
    }
    if (acmFormatChooseA(&choose) != MMSYSERR_NOERROR) return; // cancelled or failed

    char text[format_text_chars];
    if (single_file) {
        const WAVEFORMATEX *chosen = reinterpret_cast<const WAVEFORMATEX *>(single_choice);
        if (chosen->wFormatTag != WAVE_FORMAT_PCM) return; // a single file holds PCM only
        memcpy(&dlg_wfx1, single_choice, sizeof dlg_wfx1);
        describe_pcm_format(text);
        SetDlgItemTextA(dialog, IDC_SINGLE_FORMAT, text);
    } else {
        describe_codec_format(text);
        SetDlgItemTextA(dialog, IDC_CODEC_FORMAT, text);
    }
}
