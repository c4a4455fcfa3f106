// The dialog's two format displays and the ACM format chooser behind its two format buttons.
// The texts come from the installed ACM: tag names such as "IMA ADPCM", descriptions such as
// "44100 Hz; 16 bits; Stereo".
#ifndef TOLLVANE_FORMAT_TEXTS_H
#define TOLLVANE_FORMAT_TEXTS_H

#include <windows.h>
#include <mmreg.h>

// Room for a tag name, CR LF and a description, with the terminator.
constexpr unsigned format_text_chars = 48 + 2 + 128;

// A codec format (a record in a 2066-byte buffer) as its tag name and description on two lines;
// a part the ACM cannot give is left out, so the text may be one line or empty.
void describe_codec_format(const BYTE *codec_format, char *text);
// The single-file format as a PCM description, or the empty text.
void describe_pcm_format(const WAVEFORMATEX *pcm_format, char *text);

// Runs the format chooser on the codec working copy (single_file FALSE) or the PCM one (TRUE)
// and, when a format is chosen, shows it in edit 1005 or on button 1013. Cancel changes nothing.
void choose_format(HWND dialog, BOOL single_file, BYTE *codec_format, WAVEFORMATEX *pcm_format);

#endif
