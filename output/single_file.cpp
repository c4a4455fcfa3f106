// Checks and prepares the single file for an append; see single_file.h.
#include "output/single_file.h"

#include "output/handle_io.h"
#include "output/wav_container.h"

// The header is read and nothing is changed yet, so that an open that fails later leaves the
// file as it was. A data size of 0 (a track that was never closed) or one beyond the file's end
// (a track that was, or an RF64 file's open claim) takes the audio actually there, and every
// size is taken in whole frames, so that the track goes on the file's sample grid. A read, a
// move or the size query that fails refuses the file as one that cannot be opened: nothing may
// be decided from a header that was not read.
single_file_check single_file_read(HANDLE file, bool rf64, single_file_audio *audio)
{
    wav_existing existing;
    wav_read_result header = wav_read_append_header(file, &existing);
    if (header != wav_appendable) return header == wav_unreadable ? single_file_unreadable : single_file_not_pcm;
    if (existing.rf64 && !rf64) return single_file_not_pcm; // its sizes mean nothing without the setting
    audio->format = existing.format;
    audio->data_size_offset = existing.data_size_offset;
    audio->reservation_offset = existing.reservation_offset;
    audio->rf64 = existing.rf64;
    audio->grows_past_4_gib = rf64 && existing.reservation_offset != 0;
    audio->payload_offset = existing.data_size_offset + 4;
    uint64_t size = 0;
    if (!handle_size(file, &size) || size < audio->payload_offset) return single_file_unreadable; // it shrank meanwhile
    uint64_t present = size - audio->payload_offset;
    uint64_t counted = existing.data_bytes == 0 || existing.data_bytes > present ? present : existing.data_bytes;
    counted -= counted % wav_pcm_frame_bytes(&audio->format);
    // A payload that would carry a plain container past 4 GiB cannot be patched after the append.
    if (!audio->grows_past_4_gib && counted > wav_max_file_bytes - audio->payload_offset) return single_file_not_pcm;
    audio->data_bytes = counted;
    return single_file_appendable;
}

// What follows the audio goes (a pad byte, trailing chunks, a partial frame), cut where the
// header says the audio ends.
bool single_file_prepare(HANDLE file, const single_file_audio *audio)
{
    uint64_t end = audio->payload_offset + audio->data_bytes;
    if (!handle_cut(file, end)) return false;
    bool marked = wav_patch_field(file, audio->data_size_offset, wav_unfinished_size) &&
                  wav_patch_field(file, wav_riff_size_offset, wav_unfinished_size);
    if (marked && audio->rf64) {
        uint64_t ds64 = audio->reservation_offset + 8;
        marked = wav_patch_field64(file, ds64 + ds64_data_size, wav_rf64_unfinished_size) &&
                 wav_patch_field64(file, ds64 + ds64_riff_size, wav_rf64_unfinished_size);
    }
    return marked && handle_seek(file, end);
}
