// Saves one of a few fixed sets of settings through the plug-in's quit, or loads the INI
// beside it through init and checks that it holds that set: both builds run it, so an INI
// written by one build can be compared with and loaded by the other.
// usage: settings_ini_tool save|load SET   (SET 0: defaults, 1: every setting changed, 2: limits)
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "config/settings_store.h"
#include "host/out_module.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID);

static void apply_set(int set)
{
    if (set == 1) {
        strcpy(config_waveoutdir, "D:\\Music Out");
        strcpy(cfg_wav1p, "D:\\all tracks.wav");
        cfg_cvt = cfg_wav1 = cfg_thread = 1;
        cfg_mode = 2;
        WAVEFORMATEX ima = {0x11, 2, 44100, 44359, 2048, 4, 30};
        memcpy(cfg_wfx, &ima, sizeof ima);
        for (int i = 0; i < 30; i++) cfg_wfx[18 + i] = static_cast<BYTE>(i * 37 + 5);
        cfg_wfx1 = {WAVE_FORMAT_PCM, 1, 8000, 8000, 1, 8, 0};
        strcpy(cfg_name, " %pos% - %title% ");
        cfg_exists = exists_number;
        cfg_info = cfg_split = 1;
    } else if (set == 2) {
        memset(config_waveoutdir, 'd', 259);
        config_waveoutdir[259] = 0;
        strcpy(cfg_wav1p, "E:\\x=y;z [a].wav");
        cfg_cvt = 1;
        cfg_mode = 255;
        WAVEFORMATEX codec = {0x55, 2, 48000, 40000, 1, 0, 2048};
        memcpy(cfg_wfx, &codec, sizeof codec);
        for (int i = 0; i < 2048; i++) cfg_wfx[18 + i] = static_cast<BYTE>(255 - i);
        cfg_wfx1 = {WAVE_FORMAT_PCM, 6, 96000, 1728000, 18, 24, 0};
        memset(cfg_name, 'n', 259);
        memcpy(cfg_name, "\"%%x%pos%", 9);
        cfg_name[259] = 0;
        cfg_exists = exists_skip;
    }
}

int main(int argc, char **argv)
{
    if (argc != 3 || (strcmp(argv[1], "save") != 0 && strcmp(argv[1], "load") != 0)) {
        fprintf(stderr, "usage: settings_ini_tool save|load SET\n");
        return 2;
    }
    int set = atoi(argv[2]);
    out_module *module = winampGetOutModule();
    DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
    if (strcmp(argv[1], "save") == 0) {
        module->init();
        apply_set(set);
        module->quit();
        return 0;
    }

    apply_set(set);
    settings_values expected, loaded;
    settings_snapshot(&expected);
    DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
    cfg_cvt = cfg_wav1 = cfg_mode = cfg_thread = 0;
    module->init();
    settings_snapshot(&loaded);
    int wrong = 0;
    auto check = [&](bool same, const char *name) {
        if (!same) fprintf(stderr, "%s differs after loading set %d\n", name, set);
        wrong += !same;
    };
    check(strcmp(expected.waveoutdir, loaded.waveoutdir) == 0, "config_waveoutdir");
    check(strcmp(expected.wav1p, loaded.wav1p) == 0, "cfg_wav1p");
    check(expected.cvt == loaded.cvt, "cfg_cvt");
    check(expected.wav1 == loaded.wav1, "cfg_wav1");
    check(expected.mode == loaded.mode, "cfg_mode");
    check(expected.thread == loaded.thread, "cfg_thread");
    check(memcmp(expected.wfx, loaded.wfx, sizeof expected.wfx) == 0, "cfg_wfx");
    check(memcmp(&expected.wfx1, &loaded.wfx1, sizeof expected.wfx1) == 0, "cfg_wfx1");
    check(strcmp(expected.name, loaded.name) == 0, "cfg_name");
    check(expected.exists == loaded.exists, "cfg_exists");
    check(expected.info == loaded.info, "cfg_info");
    check(expected.split == loaded.split, "cfg_split");
    return wrong ? 1 : 0;
}
