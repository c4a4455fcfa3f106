// Fuzzes the codec stage through the player's entry points with a test codec that misbehaves
// as the input says: odd block sizes, nothing consumed, error results, used counts beyond its
// buffers; the input format, block lengths and flushes come from the input too. Whatever the
// codec does, the stage stays inside its buffers, ends every call, and the file holds exactly
// the bytes its header counts.
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "config/settings_store.h"
#include "convert/codec_stage.h"
#include "host/out_module.h"
#include "output/track_file.h"
#include "output/track_output.h"
#include "tools/host_support.h"
#include "tests/test_codec.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID);

namespace {

struct input_reader {
    const uint8_t *data;
    size_t size;
    uint32_t take(uint32_t bytes)
    {
        uint32_t v = 0;
        for (uint32_t i = 0; i < bytes; i++) {
            v |= static_cast<uint32_t>(size ? *data : 0) << (8 * i);
            if (size) data++, size--;
        }
        return v;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    input_reader in{data, size};
    out_module *module = winampGetOutModule();
    DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
    static HWND window;
    if (!window) {
        window = host_create_window();
        host_catch_message_boxes(nullptr); // "Codec stopped accepting data" must not wait
        host_set_playlist(0, "track");
    }
    module->main_window = window;

    test_codec_behaviour b;
    uint32_t shape = in.take(1);
    b.source_block_bytes = 1 + in.take(2) % 9000;
    b.block_bytes_out = 1 + in.take(1) % 8; // up to 8 bytes out per block: files stay small
    b.consume_nothing = (shape & 1) != 0;
    b.convert_result = (shape & 2) ? ACMERR_NOTPOSSIBLE : 0;
    b.overreport_source = (shape & 4) ? in.take(4) | 0x10000 : 0; // a claim beyond what it was given
    b.overreport_destination = (shape & 8) ? in.take(2) : 0;
    b.pcm_channels = (shape & 16) ? 1 : 2;
    b.pcm_rate = (shape & 32) ? 22050 : 44100;
    test_codec_install(b);
    std::vector<uint8_t> record = test_codec_format();
    memcpy(cfg_wfx, record.data(), record.size());
    cfg_cvt = 1;
    cfg_wav1 = 0;
    cfg_mode = static_cast<BYTE>(in.take(1) % 3);
    cfg_thread = 0;
    strcpy(config_waveoutdir, "");

    static const int rates[] = {8000, 22050, 44100, 48000};
    int rate = rates[in.take(1) % 4];
    int channels = 1 + static_cast<int>(in.take(1) % 6);
    int bits = 8 * (1 + static_cast<int>(in.take(1) % 4));
    for (const char *stale : {"track.wav", "track.mp3", "track.raw"}) remove(stale); // no overwrite question
    if (module->open(rate, channels, bits) != 0) abort(); // the test codec's format always opens

    std::vector<char> block;
    for (int round = 0; round < 8 && in.size; round++) {
        uint32_t op = in.take(1);
        if (op == 0xFF) {
            module->flush(0);
            continue;
        }
        uint32_t length = in.take(2) * (op & 0x7 ? 1u : 3u); // now and then beyond the buffers
        block.resize(length);
        for (uint32_t i = 0; i < length; i++) block[i] = static_cast<char>(i * 31 + op);
        module->write(block.data(), static_cast<int>(length));
        if (codec_state.source_pending_bytes > stage_buffer_bytes) abort();
    }
    uint32_t header_bytes = file_state.has_header ? file_state.data_size_offset + 4 : 0;
    module->close();
    if (codec_state.stream || codec_state.converter || codec_state.source_buffer) abort();

    const char *name = cfg_mode == 2 ? "track.raw" : record[0] == 0x55 && cfg_mode == 0 ? "track.mp3" : "track.wav";
    FILE *f = fopen(name, "rb");
    if (!f) abort();
    fseek(f, 0, SEEK_END);
    long file_bytes = ftell(f);
    fclose(f);
    remove(name);
    uint32_t payload = file_state.data_bytes;
    if (static_cast<uint64_t>(file_bytes) != header_bytes + payload + (header_bytes && (payload & 1))) abort();
    test_codec_remove();
    return 0;
}
