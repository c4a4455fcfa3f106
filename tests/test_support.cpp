// Test helpers; see test_support.h.
#include "test_support.h"

#include <stdio.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <direct.h>
#define make_dir(path) _mkdir(path)
#else
#include <unistd.h>
#define make_dir(path) mkdir(path, 0777)
#endif

#include "config/settings_store.h"
#include "output/track_output.h"

out_module *fresh_plugin(const char *dir, question_policy questions)
{
    out_module *module = winampGetOutModule();
    if (output_state.is_open) module->close();
    DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
    // Attach leaves the flags as a new process has them: zero. Earlier tests may not have.
    cfg_cvt = cfg_wav1 = cfg_mode = cfg_thread = 0;
    static HWND window;
    static bool caught;
    if (!window) window = host_create_window();
    if (!caught) caught = host_catch_message_boxes(nullptr);
    module->main_window = window;
    host_config.questions = questions;
    host_config.echo_boxes = false;
    host_boxes.clear();
    host_set_playlist(0, "track");
    if (*dir) make_dir(dir);
    snprintf(config_waveoutdir, sizeof config_waveoutdir, "%s", dir);
    return module;
}

std::vector<uint8_t> read_file(const std::string &path)
{
    std::vector<uint8_t> bytes;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    fclose(f);
    return bytes;
}

void write_file(const std::string &path, const std::vector<uint8_t> &bytes)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) return;
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

bool file_exists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

void remove_file(const std::string &path) { remove(path.c_str()); }

std::vector<char> pcm_block(int frames, int channels, int bits, int seed)
{
    int width = bits / 8;
    std::vector<char> block(static_cast<size_t>(frames) * channels * width);
    size_t i = 0;
    for (int f = 0; f < frames; f++)
        for (int c = 0; c < channels; c++)
            for (int b = 0; b < width; b++) block[i++] = static_cast<char>((f + seed) * 7 + c * 31 + b * 3 + 1);
    return block;
}

uint32_t le32_at(const std::vector<uint8_t> &bytes, size_t offset)
{
    if (offset + 4 > bytes.size()) return 0xDEADBEEF;
    return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 | (uint32_t)bytes[offset + 3] << 24;
}

bool riff_walk(const std::vector<uint8_t> &bytes, uint32_t *riff_size, std::vector<riff_chunk> *chunks)
{
    chunks->clear();
    if (bytes.size() < 12 || memcmp(bytes.data(), "RIFF", 4) != 0 || memcmp(bytes.data() + 8, "WAVE", 4) != 0)
        return false;
    *riff_size = le32_at(bytes, 4);
    size_t at = 12;
    while (at + 8 <= bytes.size()) {
        riff_chunk chunk{std::string(reinterpret_cast<const char *>(bytes.data() + at), 4), le32_at(bytes, at + 4),
                         at + 8};
        if (chunk.offset + chunk.size > bytes.size()) return false;
        chunks->push_back(chunk);
        at = chunk.offset + chunk.size + (chunk.size & 1);
    }
    return at == bytes.size();
}
