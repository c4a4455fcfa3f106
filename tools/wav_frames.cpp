// wav-frames: reads WAV files back through tollvane-play's own reader and prints one line per
// file, tab-separated: the path, "pcm", rate, channels, bits, the whole frames it read and the
// bytes its data chunk claims beyond the file's end; or the path, "refused" and the reader's
// reason (codec files among them). The demo's table takes its PCM numbers from here.
#include <stdio.h>

#include <vector>

#include "tools/wav_reader.h"

int main(int argc, char **argv)
{
    if (argc < 2) {
        fputs("usage: wav-frames FILE...\n", stderr);
        return 2;
    }
    int refused = 0;
    for (int a = 1; a < argc; a++) {
        wav_input wav;
        const char *reason = nullptr;
        if (!wav_reader_open(argv[a], &wav, &reason)) {
            printf("%s\trefused\t%s\n", argv[a], reason);
            refused++;
            continue;
        }
        // Counted from what the reader hands out, not from the header's size field.
        std::vector<char> block((4096 / wav.frame_bytes + 1) * wav.frame_bytes);
        uint64_t frames = 0;
        while (size_t bytes = wav_reader_read(&wav, block.data(), block.size() / wav.frame_bytes))
            frames += bytes / wav.frame_bytes;
        printf("%s\tpcm\t%d\t%d\t%d\t%llu\t%llu\n", argv[a], wav.rate, wav.channels, wav.bits,
               static_cast<unsigned long long>(frames), static_cast<unsigned long long>(wav.missing_bytes));
        wav_reader_close(&wav);
    }
    return refused ? 1 : 0;
}
