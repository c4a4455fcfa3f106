// Fuzzes the settings load: the input becomes the INI file beside the program, which the
// plug-in loads at init and saves at quit. After the load every setting must be in its range
// and the codec record inside its buffer; loading the saved file again must give the same
// integer and format settings.
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "config/settings_store.h"
#include "host/out_module.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID);

static void check_ranges(void)
{
    if (cfg_cvt > 1 || cfg_wav1 > 1 || cfg_thread > 1) abort();
    if (!memchr(config_waveoutdir, 0, sizeof config_waveoutdir) || !memchr(cfg_wav1p, 0, sizeof cfg_wav1p)) abort();
    if (cfg_wfx_format()->cbSize + sizeof(WAVEFORMATEX) > format_buffer_bytes) abort();
    if (cfg_wfx1.wFormatTag != WAVE_FORMAT_PCM) abort();
    if (cfg_exists >= exists_policy_count || cfg_info > 1 || cfg_split > 1) abort();
    if (!cfg_name[0] || !memchr(cfg_name, 0, sizeof cfg_name)) abort();
}

// The settings that loading a saved file again must give back as they were.
static bool same_numbers_and_formats(const settings_values *a, const settings_values *b)
{
    return a->cvt == b->cvt && a->wav1 == b->wav1 && a->mode == b->mode && a->thread == b->thread &&
           memcmp(a->wfx, b->wfx, sizeof a->wfx) == 0 && memcmp(&a->wfx1, &b->wfx1, sizeof a->wfx1) == 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static char ini[MAX_PATH];
    out_module *module = winampGetOutModule();
    DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
    cfg_cvt = cfg_wav1 = cfg_mode = cfg_thread = 0;
    if (!ini[0]) {
        module->init(); // learns where the INI lies
        strcpy(ini, ini_path);
    }
    remove(ini); // a new file: ext4 writes a truncated one back at close, a disk write per input
    FILE *f = fopen(ini, "wb");
    if (!f) abort();
    fwrite(data, 1, size, f);
    fclose(f);

    module->init();
    check_ranges();
    module->quit();
    settings_values saved, again;
    settings_snapshot(&saved);
    module->init();
    check_ranges();
    settings_snapshot(&again);
    // A NUL byte is no INI text: the profile functions themselves (Wine's as the stand-in's)
    // write back a line holding one under another key than the one they read, so only text
    // files must load again as they were saved.
    if (!memchr(data, 0, size) && !same_numbers_and_formats(&saved, &again)) abort();
    return 0;
}
