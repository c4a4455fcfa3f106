// Fuzzes appending to the single file: the first input byte picks a short track's format and
// length and whether RF64 files may be appended to, the rest becomes the existing file, and the
// track is played onto it as the player would. open must either refuse and leave the file byte
// for byte as it was, or append: the old header and the audio it kept stay, the file never grows
// beyond what it held before the track, and after close the header (an RF64 file's ds64 chunk)
// claims exactly what the file holds.
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "config/settings_store.h"
#include "host/out_module.h"
#include "tools/host_support.h"
#include "output/track_file.h"
#include "output/track_output.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID);

static const char file_name[] = "single_file_fuzz.wav";

static const struct {
    int rate, channels, bits;
} track_formats[8] = {
    {44100, 2, 16}, {8000, 1, 8}, {22050, 2, 24}, {48000, 1, 32},
    {44100, 1, 16}, {11025, 2, 8}, {96000, 6, 16}, {44100, 2, 32},
};

static std::vector<uint8_t> read_back(void)
{
    std::vector<uint8_t> bytes;
    FILE *f = fopen(file_name, "rb");
    if (!f) abort();
    uint8_t chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    fclose(f);
    return bytes;
}

static uint32_t le32(const std::vector<uint8_t> &b, size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

static uint64_t le64(const std::vector<uint8_t> &b, size_t at) { return le32(b, at) | uint64_t(le32(b, at + 4)) << 32; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) return 0;
    static HWND window;
    if (!window) {
        window = host_create_window();
        host_catch_message_boxes(nullptr);
    }
    out_module *module = winampGetOutModule();
    DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
    module->main_window = window;
    cfg_cvt = cfg_mode = cfg_thread = 0;
    cfg_rf64 = (data[0] >> 3) & 1;
    cfg_wav1 = 1;
    strcpy(cfg_wav1p, file_name);
    host_boxes.clear();

    const std::vector<uint8_t> before(data + 1, data + size);
    // An existing format of thousands of channels or megahertz rates makes every short track
    // megabytes long; the codec stage's tests convert such formats, and here they would slow
    // every run down tenfold.
    // The fmt body stands behind the room for RF64's sizes where a file has it.
    size_t fmt = before.size() >= 16 && (memcmp(&before[12], "JUNK", 4) == 0 || memcmp(&before[12], "ds64", 4) == 0)
                     ? 56
                     : 20;
    if (before.size() >= fmt + 16 && before[fmt] == WAVE_FORMAT_PCM && before[fmt + 1] == 0) {
        uint64_t channels = before[fmt + 2] | before[fmt + 3] << 8, bits = before[fmt + 14] | before[fmt + 15] << 8;
        uint64_t rate = le32(before, fmt + 4);
        if (channels * (bits / 8) * rate > (8u << 20)) return 0;
    }
    remove(file_name); // a new file: ext4 writes a truncated one back at close, a disk write per input
    FILE *f = fopen(file_name, "wb");
    if (!f) abort();
    if (!before.empty()) fwrite(before.data(), 1, before.size(), f);
    fclose(f);

    const auto &format = track_formats[data[0] & 7];
    int frames = 1 + (data[0] >> 5) * 3; // 1 to 22 frames: a short track keeps the runs fast
    std::vector<char> audio(static_cast<size_t>(frames) * format.channels * (format.bits / 8));
    for (size_t i = 0; i < audio.size(); i++) audio[i] = static_cast<char>(i * 37 + 11);

    if (module->open(format.rate, format.channels, format.bits) != 0) {
        if (output_state.is_open || host_boxes.empty()) abort(); // refused without a word
        module->write(audio.data(), static_cast<int>(audio.size()));
        if (read_back() != before) abort();
        return 0;
    }
    // Accepted: the header was read, so the file holds "RIFF" (or "RF64")..."data" and the size
    // field, with 36 bytes of room for RF64's sizes (or its ds64 chunk) after "WAVE" or without.
    const uint32_t payload_offset = file_state.data_size_offset + 4;
    const uint32_t kept_bytes = static_cast<uint32_t>(file_state.data_bytes);
    const uint32_t room = file_state.reservation_offset ? 36 : 0;
    const bool rf64 = file_state.rf64;
    if (payload_offset < 44 + room || payload_offset > 46 + room || before.size() < payload_offset) abort();
    if (rf64 && !cfg_rf64) abort(); // an RF64 file is appended to only with the option
    if (kept_bytes > before.size() - payload_offset) abort(); // an append never pads the old audio
    size_t half = audio.size() / 2;
    module->write(audio.data(), static_cast<int>(half));
    module->write(audio.data() + half, static_cast<int>(audio.size() - half));
    module->close();

    std::vector<uint8_t> after = read_back();
    if (after.size() < payload_offset) abort();
    uint64_t riff_size = rf64 ? le64(after, 20) : le32(after, 4);
    uint64_t data_size = rf64 ? le64(after, 28) : le32(after, payload_offset - 4);
    if (rf64 && (le32(after, 4) != 0xFFFFFFFFu || le32(after, payload_offset - 4) != 0xFFFFFFFFu)) abort();
    if (riff_size != after.size() - 8) abort();
    if (data_size < kept_bytes || data_size > after.size() - payload_offset) abort();
    if (after.size() - payload_offset - data_size != (data_size & 1)) abort(); // only the pad byte follows
    // The header apart from its sizes, and the audio kept, are the file's own bytes.
    size_t sizes_end = rf64 ? 44 : 8; // an RF64 file's ds64 sizes and sample count too
    if (memcmp(after.data(), before.data(), 4) != 0 || memcmp(after.data() + 8, before.data() + 8, rf64 ? 12 : 0) ||
        memcmp(after.data() + sizes_end, before.data() + sizes_end, payload_offset - 4 - sizes_end))
        abort();
    if (memcmp(after.data() + payload_offset, before.data() + payload_offset, kept_bytes) != 0) abort();
    // A track in the file's own format goes in unchanged.
    if (!file_state.converting && (data_size - kept_bytes != audio.size() ||
                                     memcmp(after.data() + payload_offset + kept_bytes, audio.data(), audio.size())))
        abort();
    return 0;
}
