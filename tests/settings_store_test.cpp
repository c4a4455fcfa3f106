// The settings store driven as the player drives it (attach, init, quit), checked against the
// exact INI text; and the profile functions it relies on, checked against the text and values
// Windows gives. Natively these run against the stand-in, under Wine against the real thing.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdio.h>
#include <string>
#include <vector>
#ifndef _WIN32
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>

#include "win32_shim/shim_control.h"
#endif

#include "config/settings_store.h"
#include "output/track_output.h"
#include "tests/test_support.h"

namespace {

// The test program's own path with ".exe" dropped and the given ending added.
std::string beside_exe(const char *ending)
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string text = path;
    if (text.size() > 4 && text.compare(text.size() - 4, 4, ".exe") == 0) text.resize(text.size() - 4);
    return text + ending;
}

std::string file_text(const std::string &path)
{
    std::vector<uint8_t> bytes = read_file(path);
    return std::string(bytes.begin(), bytes.end());
}

void put_text(const std::string &path, const std::string &text)
{
    write_file(path, std::vector<uint8_t>(text.begin(), text.end()));
}

// A UTF-16 file's bytes: its byte-order mark, then text's code units (u"" or WCHAR text).
template <typename C> std::string utf16(bool big_endian, const C *text)
{
    std::string bytes = big_endian ? "\xFE\xFF" : "\xFF\xFE";
    for (; *text; text++) {
        char high = static_cast<char>(*text >> 8), low = static_cast<char>(*text & 0xFF);
        bytes += big_endian ? high : low;
        bytes += big_endian ? low : high;
    }
    return bytes;
}

using wide_string = std::basic_string<WCHAR>;

// Both builds' wide text: MultiByteToWideChar from the ANSI code page, or from UTF-8.
wide_string wide_of(const char *text, UINT code_page = CP_ACP)
{
    WCHAR wide[600];
    int count = MultiByteToWideChar(code_page, 0, text, -1, wide, 600);
    return count > 0 ? wide_string(wide, static_cast<size_t>(count - 1)) : wide_string();
}

wide_string wide_text(const char *utf8) { return wide_of(utf8, CP_UTF8); }

std::string hex_of(const void *data, size_t bytes)
{
    std::string text;
    char two[3];
    for (size_t i = 0; i < bytes; i++) {
        snprintf(two, sizeof two, "%02X", static_cast<const uint8_t *>(data)[i]);
        text += two;
    }
    return text;
}

const char default_ini[] = "[WAV Writing Output Driver]\r\n"
                           "config_waveoutdir=c:\\\r\n"
                           "cfg_cvt=\r\n"
                           "cfg_wav1=\r\n"
                           "cfg_wav1p=c:\\out.wav\r\n"
                           "cfg_mode=\r\n"
                           "cfg_thread=\r\n"
                           "cfg_wfx_s=18\r\n"
                           "cfg_wfx=0100020044AC000010B10200040010000000CA\r\n"  // default_format + sum
                           "cfg_wfx1=0100020044AC000010B10200040010000000CA\r\n";

// An IMA ADPCM record with 30 codec bytes: 48 bytes on file.
const char ima_hex[] = "1100020044AC000047AD0000000804001E00F907052A4F7499BEE3082D52779CC1E60B30557A9FC4E90E33587DA2C7EC";

void set_ima_format(void)
{
    WAVEFORMATEX ima = {0x11, 2, 44100, 44359, 2048, 4, 30};
    memcpy(cfg_wfx, &ima, sizeof ima);
    cfg_wfx[18] = 0xF9; // samples per block 2041
    cfg_wfx[19] = 0x07;
    for (int i = 0; i < 28; i++) cfg_wfx[20 + i] = static_cast<BYTE>(i * 37 + 5);
}

class settings_store : public ::testing::Test {
protected:
    out_module *module = winampGetOutModule();
    std::string ini = beside_exe(".ini");

    void SetUp() override
    {
        if (output_state.is_open) module->close();
        DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
        cfg_cvt = cfg_wav1 = cfg_mode = cfg_thread = 0;
        remove_file(ini);
    }

    // A fresh process: attach, then init loads the file.
    void restart(void)
    {
        DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
        cfg_cvt = cfg_wav1 = cfg_mode = cfg_thread = 0;
        module->init();
    }

    std::string ini_body(const std::string &keys) { return "[WAV Writing Output Driver]\r\n" + keys; }
};

TEST_F(settings_store, ini_lies_beside_the_executable_with_its_name)
{
    module->init();
    EXPECT_EQ(ini, ini_path);
}

TEST_F(settings_store, without_a_file_init_keeps_the_defaults_and_quit_writes_them_in_order)
{
    module->init();
    EXPECT_STREQ("c:\\", config_waveoutdir);
    EXPECT_STREQ("c:\\out.wav", cfg_wav1p);
    EXPECT_EQ(0, cfg_cvt + cfg_wav1 + cfg_mode + cfg_thread);
    EXPECT_EQ(0, memcmp(cfg_wfx, &default_format, 18));
    EXPECT_EQ(std::vector<BYTE>(2048, 0), std::vector<BYTE>(cfg_wfx + 18, cfg_wfx + 2066));
    EXPECT_EQ(0, memcmp(&cfg_wfx1, &default_format, 18));
    EXPECT_FALSE(file_exists(ini));

    module->quit();
    EXPECT_EQ(default_ini, file_text(ini));
}

TEST_F(settings_store, every_setting_survives_quit_and_the_next_init)
{
    module->init();
    strcpy(config_waveoutdir, "D:\\Music Out");
    strcpy(cfg_wav1p, "D:\\all tracks.wav");
    cfg_cvt = cfg_wav1 = cfg_thread = 1;
    cfg_mode = 2;
    set_ima_format();
    cfg_wfx1 = {WAVE_FORMAT_PCM, 1, 8000, 8000, 1, 8, 0};
    strcpy(cfg_name, " %pos% - %title% ");
    cfg_exists = exists_skip;
    cfg_info = cfg_split = cfg_cue = cfg_rf64 = 1;
    std::vector<BYTE> codec(cfg_wfx, cfg_wfx + 48);
    module->quit();
    const std::string saved = ini_body("config_waveoutdir=D:\\Music Out\r\n"
                                       "cfg_cvt=1\r\n"
                                       "cfg_wav1=1\r\n"
                                       "cfg_wav1p=D:\\all tracks.wav\r\n"
                                       "cfg_mode=2\r\n"
                                       "cfg_thread=1\r\n"
                                       "cfg_wfx_s=48\r\n"
                                       "cfg_wfx=" + std::string(ima_hex) + "4F\r\n"
                                       "cfg_wfx1=01000100401F0000401F0000010008000000C9\r\n");
    EXPECT_EQ(saved + "cfg_name=\" %pos% - %title% \"\r\ncfg_exists=3\r\ncfg_info=1\r\ncfg_split=1\r\ncfg_cue=1\r\n"
                      "cfg_rf64=1\r\n",
              file_text(ini));

    DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
    cfg_cvt = cfg_wav1 = cfg_mode = cfg_thread = 0;
    memset(cfg_wfx + 48, 0xCC, format_buffer_bytes - 48); // bytes behind the stored 48 are not touched
    module->init();
    EXPECT_STREQ("D:\\Music Out", config_waveoutdir);
    EXPECT_STREQ("D:\\all tracks.wav", cfg_wav1p);
    EXPECT_EQ(1, cfg_cvt);
    EXPECT_EQ(1, cfg_wav1);
    EXPECT_EQ(2, cfg_mode);
    EXPECT_EQ(1, cfg_thread);
    EXPECT_EQ(codec, std::vector<BYTE>(cfg_wfx, cfg_wfx + 48));
    EXPECT_EQ(std::vector<BYTE>(format_buffer_bytes - 48, 0xCC), std::vector<BYTE>(cfg_wfx + 48, cfg_wfx + 2066));
    EXPECT_EQ(8000u, cfg_wfx1.nSamplesPerSec);
    EXPECT_EQ(1, cfg_wfx1.nChannels);
    EXPECT_STREQ(" %pos% - %title% ", cfg_name);
    EXPECT_EQ(exists_skip, cfg_exists);
    EXPECT_EQ(4, cfg_info + cfg_split + cfg_cue + cfg_rf64);

    // Back at their defaults, the options leave the file as before they existed.
    strcpy(cfg_name, "%title%");
    cfg_exists = cfg_info = cfg_split = cfg_cue = cfg_rf64 = 0;
    module->quit();
    EXPECT_EQ(saved, file_text(ini));
}

TEST_F(settings_store, added_options_load_bounded_and_missing_or_strange_ones_give_defaults)
{
    struct row { std::string keys, name; BYTE exists, info, split, cue = 0, rf64 = 0; } rows[] = {
        /* 0 */ {"", "%title%", 0, 0, 0},
        /* 1 */ {"cfg_name=%pos%. %title%\r\ncfg_exists=2\r\ncfg_info=7\r\ncfg_split=1\r\ncfg_cue=5\r\ncfg_rf64=1\r\n",
                 "%pos%. %title%", 2, 1, 1, 1, 1},
        /* 2 */ {"cfg_name=\r\ncfg_exists=4\r\ncfg_info=0\r\ncfg_cue=\r\n", "%title%", 0, 0, 0}, // empty, out of range
        /* 3 */ {"cfg_exists=-1\r\ncfg_name=\"\"\r\n", "%title%", 0, 0, 0},
        /* 4 */ {"cfg_name=\"" + std::string(259, 'n') + "\"\r\n", std::string(259, 'n'), 0, 0, 0}, // quotes at the limit
        /* 5 */ {"cfg_name=" + std::string(300, 'n') + "\r\n", std::string(259, 'n'), 0, 0, 0},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << (&r - rows));
        put_text(ini, ini_body(r.keys));
        DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
        strcpy(cfg_name, "before");
        cfg_exists = cfg_info = cfg_split = cfg_cue = cfg_rf64 = 3;
        module->init();
        EXPECT_EQ(r.name, cfg_name);
        EXPECT_EQ(r.exists, cfg_exists);
        EXPECT_EQ(r.info, cfg_info);
        EXPECT_EQ(r.split, cfg_split);
        EXPECT_EQ(r.cue, cfg_cue);
        EXPECT_EQ(r.rf64, cfg_rf64);
    }
}

TEST_F(settings_store, integers_load_normalised_and_empty_or_missing_keep_the_value)
{
    struct row { const char *text; BYTE before, flag, mode; } rows[] = {
        /* 0 */ {"1", 0, 1, 1},
        /* 1 */ {"7", 0, 1, 7},
        /* 2 */ {"258", 0, 1, 2},        // mode: low 8 bits, no range check
        /* 3 */ {"256", 1, 1, 0},        // nonzero flag, mode wraps to 0
        /* 4 */ {"-1", 0, 1, 255},
        /* 5 */ {"0", 1, 0, 0},
        /* 6 */ {"", 1, 1, 1},           // empty: the current value stays
        /* 7 */ {"", 0, 0, 0},
        /* 8 */ {nullptr, 1, 1, 1},      // missing key: likewise
        /* 9 */ {"abc", 1, 0, 0},        // no digits: 0, not the current value
        /* 10 */ {"0x10", 0, 1, 16},
        /* 11 */ {"3 tracks", 0, 1, 3},
        /* 12 */ {"4294967296", 1, 0, 0}, // wraps to 0
    };
    for (const row &r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << (&r - rows));
        std::string keys;
        if (r.text)
            for (const char *key : {"cfg_cvt", "cfg_wav1", "cfg_mode", "cfg_thread"})
                keys += std::string(key) + "=" + r.text + "\r\n";
        put_text(ini, ini_body(keys));
        DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
        cfg_cvt = cfg_wav1 = cfg_mode = cfg_thread = r.before;
        module->init();
        EXPECT_EQ(r.flag, cfg_cvt);
        EXPECT_EQ(r.flag, cfg_wav1);
        EXPECT_EQ(r.flag, cfg_thread);
        EXPECT_EQ(r.mode, cfg_mode);
    }
}

TEST_F(settings_store, texts_load_cut_to_the_buffer_and_missing_ones_stay)
{
    std::string long_dir = "D:\\" + std::string(300, 'x');
    put_text(ini, ini_body("config_waveoutdir=" + long_dir + "\r\n"));
    strcpy(cfg_wav1p, "E:\\kept.wav");
    module->init();
    EXPECT_EQ(long_dir.substr(0, 259), config_waveoutdir);
    EXPECT_STREQ("E:\\kept.wav", cfg_wav1p);

    // Hand edits: spaces around '=', quotes, another case, LF line ends, other sections kept.
    put_text(ini, "; mine\n[other]\nx=1\n[wav writing output driver]\n  cfg_wav1p =  \"E:\\q.wav\"  \n"
                  "CFG_MODE= 2\nconfig_waveoutdir=\n");
    module->init();
    EXPECT_STREQ("E:\\q.wav", cfg_wav1p);
    EXPECT_EQ(2, cfg_mode);
    EXPECT_STREQ("", config_waveoutdir); // an empty text value is a value, unlike an empty integer
    module->quit();
    EXPECT_EQ("; mine\r\n[other]\r\nx=1\r\n[wav writing output driver]\r\ncfg_wav1p=E:\\q.wav\r\n"
              "CFG_MODE=2\r\nconfig_waveoutdir=\r\ncfg_cvt=\r\ncfg_wav1=\r\ncfg_thread=\r\ncfg_wfx_s=18\r\n"
              "cfg_wfx=0100020044AC000010B10200040010000000CA\r\ncfg_wfx1=0100020044AC000010B10200040010000000CA\r\n",
              file_text(ini));
}

// The codec record's byte count decides whether it is read at all; a record that claims more
// codec bytes than its buffer holds is refused, and so is a single-file format that is not PCM.
TEST_F(settings_store, format_records_load_only_when_count_checksum_and_bounds_agree)
{
    std::vector<BYTE> full(format_buffer_bytes);
    for (size_t i = 0; i < full.size(); i++) full[i] = static_cast<BYTE>(i * 13 + 1);
    WAVEFORMATEX fits = {0x11, 1, 8000, 4055, 256, 4, 2048};
    memcpy(full.data(), &fits, 18);
    std::vector<BYTE> over = full;
    over[16] = 0x01; // cbSize 2049
    over[17] = 0x08;
    auto struct_hex = [](const std::vector<BYTE> &bytes, size_t count) {
        BYTE sum = 0;
        for (size_t i = 0; i < count; i++) sum = static_cast<BYTE>(sum + bytes[i]);
        return hex_of(bytes.data(), count) + hex_of(&sum, 1);
    };
    enum outcome { untouched, loaded, reset };
    struct row { std::string count; std::string value; size_t bytes; outcome result; } rows[] = {
        /* 0 */ {"2066", struct_hex(full, 2066), 2066, loaded},
        /* 1 */ {"18", struct_hex(full, 18), 18, loaded},     // only the record; the rest stays
        /* 2 */ {"5", struct_hex(full, 5), 0, reset},       // cbSize is still the old 0xCCCC
        /* 3 */ {"2067", struct_hex(full, 2066) + "00", 0, untouched},
        /* 4 */ {"0", struct_hex(full, 18), 0, untouched},
        /* 5 */ {"-18", struct_hex(full, 18), 0, untouched},
        /* 6 */ {"", struct_hex(full, 18), 0, untouched},
        /* 7 */ {"19", struct_hex(full, 18), 0, untouched},    // count above the stored bytes
        /* 8 */ {"17", struct_hex(full, 18), 0, untouched},    // count below: wrong checksum
        /* 9 */ {"18", struct_hex(full, 17) + "00", 0, untouched},
        /* 10 */ {"2066", struct_hex(over, 2066), 0, reset},
        /* 11 */ {"18", struct_hex(over, 18), 0, reset},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << (&r - rows));
        put_text(ini, ini_body("cfg_wfx_s=" + r.count + "\r\ncfg_wfx=" + r.value + "\r\n"));
        DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
        memset(cfg_wfx, 0xCC, format_buffer_bytes);
        module->init();
        std::vector<BYTE> expected(format_buffer_bytes, 0xCC);
        if (r.result == loaded) memcpy(expected.data(), full.data(), r.bytes);
        if (r.result == reset) {
            std::fill(expected.begin(), expected.end(), 0);
            memcpy(expected.data(), &default_format, 18);
        }
        EXPECT_EQ(expected, std::vector<BYTE>(cfg_wfx, cfg_wfx + format_buffer_bytes));
        EXPECT_EQ(0, memcmp(&cfg_wfx1, &default_format, 18));
    }

    struct single { const char *value; WORD tag, channels; } singles[] = {
        /* 0 */ {"01000100401F0000401F0000010008000000C9", 1, 1},      // PCM mono: taken
        /* 1 */ {"02000100401F0000401F0000010008000000CA", 1, 2},      // tag 2: the default instead
        /* 2 */ {"01000100401F0000401F0000010008000000C8", 7, 7},      // bad checksum: untouched
        /* 3 */ {"01000100401F0000401F000001000800000000C9", 7, 7},    // 19 bytes: untouched
        /* 4 */ {"01000100401f0000401f0000010008000000c9", 1, 1},      // lower case is read
    };
    for (const single &s : singles) {
        SCOPED_TRACE(testing::Message() << "single " << (&s - singles));
        put_text(ini, ini_body(std::string("cfg_wfx1=") + s.value + "\r\n"));
        DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
        cfg_wfx1.wFormatTag = cfg_wfx1.nChannels = 7;
        module->init();
        EXPECT_EQ(s.tag, cfg_wfx1.wFormatTag);
        EXPECT_EQ(s.channels, cfg_wfx1.nChannels);
    }
}

TEST_F(settings_store, an_oversized_codec_record_in_memory_is_never_saved_past_its_buffer)
{
    module->init();
    WAVEFORMATEX huge = {0x55, 2, 44100, 16000, 1, 0, 0xFFFF};
    memcpy(cfg_wfx, &huge, 18);
    module->quit();
    EXPECT_EQ(default_ini, file_text(ini));
}

TEST_F(settings_store, an_empty_ini_path_reads_and_writes_nothing)
{
    module->init();
    ini_path[0] = 0;
    cfg_mode = 2;
    settings_save();
    EXPECT_FALSE(file_exists(ini));
    put_text(ini, default_ini);
    ini_path[0] = 0;
    exchange_settings(false);
    EXPECT_EQ(2, cfg_mode);
}

TEST_F(settings_store, quit_finishes_an_open_track_before_it_saves)
{
    out_module *plugin = fresh_plugin("quit_track");
    remove_file("quit_track/track.wav");
    plugin->init();
    ASSERT_EQ(0, plugin->open(44100, 2, 16));
    std::vector<char> block = pcm_block(100, 2, 16);
    plugin->write(block.data(), static_cast<int>(block.size()));
    plugin->quit();
    EXPECT_FALSE(output_state.is_open);
    std::vector<uint8_t> wav = read_file("quit_track/track.wav");
    ASSERT_EQ(44u + 400u, wav.size());
    EXPECT_EQ(36u + 400u, le32_at(wav, 4));  // RIFF size patched
    EXPECT_EQ(400u, le32_at(wav, 40));       // data size patched
    EXPECT_NE(std::string::npos, file_text(ini).find("config_waveoutdir=quit_track\r\n"));

    // A change made after the last quit never reaches the file.
    cfg_mode = 2;
    restart();
    EXPECT_EQ(0, cfg_mode);
}

#ifndef _WIN32
bool write_text(const char *path, const char *text)
{
    int fd = open(path, O_WRONLY);
    if (fd < 0) return false;
    bool ok = write(fd, text, strlen(text)) == static_cast<ssize_t>(strlen(text));
    return close(fd) == 0 && ok;
}

// Gives the calling process a mount namespace of its own with a 16-page tmpfs at dir: inside a
// user namespace of its own (as `unshare -rm`), or for root a mount namespace alone (as
// `unshare -m`). Returns why neither works, or "".
std::string mount_small_tmpfs(const char *dir)
{
    uid_t uid = geteuid();
    gid_t gid = getegid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0) {
        char map[64];
        snprintf(map, sizeof map, "0 %u 1", static_cast<unsigned>(uid));
        bool mapped = write_text("/proc/self/setgroups", "deny") && write_text("/proc/self/uid_map", map);
        snprintf(map, sizeof map, "0 %u 1", static_cast<unsigned>(gid));
        if (!mapped || !write_text("/proc/self/gid_map", map)) return "cannot map the user namespace's ids";
    } else {
        std::string user_error = strerror(errno);
        if (uid != 0) return "no user namespace (" + user_error + ") and not root";
        if (unshare(CLONE_NEWNS) != 0) return std::string("no mount namespace: ") + strerror(errno);
    }
    // Nothing mounted here may reach the namespace the test runs in.
    if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("cannot make the mounts private: ") + strerror(errno);
    std::string size = "size=" + std::to_string(16 * sysconf(_SC_PAGESIZE));
    if (mount("tmpfs", dir, "tmpfs", 0, size.c_str()) != 0)
        return std::string("cannot mount a tmpfs: ") + strerror(errno);
    return "";
}

// In the child: fills the disk under ini, then lets the plug-in save changed settings at quit
// and writes one more key directly. Reports the direct write's result and error, the folder's
// entries and the INI's bytes.
std::string save_on_a_full_disk(out_module *module, const std::string &seed)
{
    std::string why = mount_small_tmpfs("full_disk");
    if (!why.empty()) return "skip " + why;
    const char ini[] = "full_disk/player.ini";
    put_text(ini, seed);
    int filler = open("full_disk/filler", O_WRONLY | O_CREAT, 0600);
    char block[4096] = {};
    while (write(filler, block, sizeof block) > 0) {}
    while (write(filler, block, 1) > 0) {}
    close(filler);

    module->init();
    strcpy(ini_path, ini);
    strcpy(config_waveoutdir, "D:\\Music Out");
    cfg_cvt = cfg_wav1 = cfg_thread = 1;
    cfg_mode = 2;
    module->quit();
    SetLastError(0);
    BOOL written = WritePrivateProfileStringA("Player", "volume", "100", ini);
    std::string report = std::to_string(written) + " " + std::to_string(GetLastError()) + "\n";

    std::vector<std::string> names;
    DIR *folder = opendir("full_disk");
    while (dirent *entry = folder ? readdir(folder) : nullptr)
        if (entry->d_name[0] != '.' || strlen(entry->d_name) > 2) names.push_back(entry->d_name);
    if (folder) closedir(folder);
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) report += name + " ";
    return report + "\n" + file_text(ini);
}
#endif

// The stand-in writes a changed INI whole or not at all. The file holds other programs'
// sections around the plug-in's and fills its page nearly: the saved text needs one page more,
// so a file rewritten in place would be cut at that page with the sections behind it.
TEST_F(settings_store, a_save_on_a_full_disk_leaves_the_ini_as_it_was)
{
#ifdef _WIN32
    GTEST_SKIP() << "a promise of the stand-in; Windows writes its files its own way";
#else
    std::string seed = "[Player]\r\nvolume=200\r\n[WAV Writing Output Driver]\r\ncfg_mode=1\r\n[Other Plugin]\r\n";
    for (int i = 0; seed.size() + 60 < static_cast<size_t>(sysconf(_SC_PAGESIZE)); i++)
        seed += "key" + std::to_string(i) + "=a value of another program\r\n";
    seed += "[Last Section]\r\nend=1\r\n";
    mkdir("full_disk", 0777);

    int channel[2];
    ASSERT_EQ(0, pipe(channel));
    fflush(nullptr);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(channel[0]);
        std::string report = save_on_a_full_disk(module, seed);
        ssize_t sent = write(channel[1], report.data(), report.size());
        _exit(sent == static_cast<ssize_t>(report.size()) ? 0 : 1);
    }
    close(channel[1]);
    std::string report;
    char chunk[4096];
    ssize_t n;
    while ((n = read(channel[0], chunk, sizeof chunk)) > 0) report.append(chunk, static_cast<size_t>(n));
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    if (report.compare(0, 5, "skip ") == 0) GTEST_SKIP() << "no small file system to fill: " << report.substr(5);

    size_t first = report.find('\n'), second = report.find('\n', first + 1);
    ASSERT_NE(std::string::npos, second);
    EXPECT_EQ("0 112", report.substr(0, first)); // FALSE, ERROR_DISK_FULL
    EXPECT_EQ("filler player.ini ", report.substr(first + 1, second - first - 1)); // no new file left behind
    std::string ini = report.substr(second + 1);
    EXPECT_TRUE(ini == seed) << ini.size() << " bytes instead of " << seed.size() << ", ending in "
                             << testing::PrintToString(ini.substr(ini.size() > 60 ? ini.size() - 60 : 0));
#endif
}

TEST(ini_path_rule, extension_of_the_file_name_becomes_ini)
{
    const wide_string a251(251, 'a'), a255(255, 'a'), a256(256, 'a');
    struct row { wide_string exe, ini; } rows[] = {
        /* 0 */ {wide_text("D:\\Apps\\player.exe"), wide_text("D:\\Apps\\player.ini")},
        /* 1 */ {wide_text("D:\\a.b\\player"), wide_text("D:\\a.b\\player.ini")}, // a folder's dot is no extension
        /* 2 */ {wide_text("/usr/bin/tollvane-play"), wide_text("/usr/bin/tollvane-play.ini")},
        /* 3 */ {wide_text("/opt/x.y/play"), wide_text("/opt/x.y/play.ini")},
        /* 4 */ {wide_text("C:\\p\\my.player.exe"), wide_text("C:\\p\\my.player.ini")},
        /* 5 */ {wide_text("C:\\p\\player.longext"), wide_text("C:\\p\\player.ini")},
        /* 6 */ {wide_text("C:\\p\\player."), wide_text("C:\\p\\player.ini")},
        /* 7 */ {wide_string(), wide_string()},
        /* 8 */ {a251 + wide_text(".exe"), a251 + wide_text(".ini")},  // dot at 251
        /* 9 */ {a255 + wide_text(".exe"), a255 + wide_text(".ini")},  // dot at 255: just fits
        /* 10 */ {a256 + wide_text(".ex"), wide_string()},            // dot at 256: no room
        /* 11 */ {a255, a255 + wide_text(".ini")},                    // 259 with ".ini"
        /* 12 */ {a256, wide_string()},
        /* 13 */ {wide_text("C:\\\u043F\u0430\u043F\u043A\u0430\\player.exe"),
                  wide_text("C:\\\u043F\u0430\u043F\u043A\u0430\\player.ini")},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << (&r - rows));
        WCHAR path[MAX_PATH];
        for (WCHAR &c : path) c = 0x7F;
        std::copy(r.exe.begin(), r.exe.end(), path);
        path[r.exe.size()] = 0;
        derive_ini_path(path);
        EXPECT_TRUE(r.ini == path);
    }
    WCHAR unterminated[MAX_PATH];
    for (WCHAR &c : unterminated) c = 'a';
    derive_ini_path(unterminated);
    EXPECT_EQ(0, unterminated[0]);
}

// --- the profile functions, as the store relies on them ---

class profile_functions : public ::testing::Test {
protected:
    std::string file = beside_exe("_probe.ini");
    void SetUp() override { remove_file(file); }
};

TEST_F(profile_functions, writes_create_replace_in_place_and_keep_foreign_lines)
{
    const char *f = file.c_str();
    EXPECT_TRUE(WritePrivateProfileStringA("S", "b", "2", f));
    EXPECT_TRUE(WritePrivateProfileStringA("S", "a", "", f));
    EXPECT_TRUE(WritePrivateProfileStringA("T", "c", "  lead", f));
    EXPECT_TRUE(WritePrivateProfileStringA("s", "B", "3", f));
    EXPECT_EQ("[S]\r\nb=3\r\na=\r\n[T]\r\nc=lead\r\n", file_text(file));

    put_text(file, "top=1\n\n; note\r\n [ S ] \rnovalue\r\n  k  =  v w  \n=x\n=y\n[S]\nd=4\n");
    EXPECT_TRUE(WritePrivateProfileStringA("S", "k", "v w", f)); // unchanged: the file stays as it is
    EXPECT_EQ(std::string("top=1\n\n; note\r\n [ S ] \rnovalue\r\n  k  =  v w  \n=x\n=y\n[S]\nd=4\n"), file_text(file));
    EXPECT_TRUE(WritePrivateProfileStringA("S", "d", "5", f)); // only the first [S] is searched
    EXPECT_EQ("top=1\r\n; note\r\n[S]\r\nnovalue\r\nk=v w\r\n=x\r\nd=5\r\n[S]\r\nd=4\r\n", file_text(file));

    put_text(file, "\xEF\xBB\xBF[S]\r\nk=1\r\n");
    EXPECT_TRUE(WritePrivateProfileStringA("S", "k", "2", f));
    EXPECT_EQ("\xEF\xBB\xBF[S]\r\nk=2\r\n", file_text(file));

    BYTE record[18];
    memcpy(record, &default_format, 18);
    EXPECT_TRUE(WritePrivateProfileStructA("S", "f", record, 18, f));
    EXPECT_TRUE(WritePrivateProfileStructA("S", "z", record, 0, f));
    EXPECT_EQ("\xEF\xBB\xBF[S]\r\nk=2\r\nf=0100020044AC000010B10200040010000000CA\r\nz=00\r\n", file_text(file));

    // UTF-16 stays UTF-16 in its byte order, every code unit kept (a lone surrogate too).
    for (bool big_endian : {false, true}) {
        SCOPED_TRACE(big_endian ? "big-endian" : "little-endian");
        put_text(file, utf16(big_endian, u"[O]\r\nn=\u041F\xD800\r\n[S]\r\nk=1\r\n"));
        EXPECT_TRUE(WritePrivateProfileStringA("S", "k", "2", f));
        EXPECT_TRUE(WritePrivateProfileStringA("S", "j", "3", f));
        EXPECT_EQ(utf16(big_endian, u"[O]\r\nn=\u041F\xD800\r\n[S]\r\nk=2\r\nj=3\r\n"), file_text(file));
        char text[8];
        EXPECT_EQ(1u, GetPrivateProfileStringA("S", "k", "", text, sizeof text, f));
        EXPECT_STREQ("2", text);
        // The W functions write and read a pair and a lone surrogate as they are.
        const WCHAR units[] = {0xD834, 0xDD1E, 0xDC00, 0};
        const wide_string s = wide_text("S"), w = wide_text("w"), wf = wide_of(f);
        WCHAR back[8];
        EXPECT_TRUE(WritePrivateProfileStringW(s.c_str(), w.c_str(), units, wf.c_str()));
        EXPECT_EQ(utf16(big_endian, u"[O]\r\nn=\u041F\xD800\r\n[S]\r\nk=2\r\nj=3\r\nw=\U0001D11E\xDC00\r\n"),
                  file_text(file));
        EXPECT_EQ(3u, GetPrivateProfileStringW(s.c_str(), w.c_str(), wide_string().c_str(), back, 8, wf.c_str()));
        EXPECT_EQ(wide_string(units), back);
    }

    remove_file(file);
    EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "v", ""));
    EXPECT_FALSE(WritePrivateProfileStructA("S", "k", record, 18, ""));
    EXPECT_FALSE(file_exists(file));

#ifndef _WIN32
    // The stand-in's new text replaces the file: through a link (relative here) its target,
    // which keeps its mode, and the link stays a link.
    std::string target = beside_exe("_target.ini");
    put_text(target, "[S]\r\nk=1\r\n");
    ASSERT_EQ(0, chmod(target.c_str(), 0604));
    ASSERT_EQ(0, symlink(target.substr(target.rfind('/') + 1).c_str(), f));
    EXPECT_TRUE(WritePrivateProfileStringA("S", "k", "2", f));
    EXPECT_EQ("[S]\r\nk=2\r\n", file_text(target));
    struct stat st;
    EXPECT_TRUE(lstat(f, &st) == 0 && S_ISLNK(st.st_mode));
    EXPECT_TRUE(stat(target.c_str(), &st) == 0 && (st.st_mode & 07777) == 0604) << std::oct << st.st_mode;
    remove_file(file);
    remove_file(target);
#endif
}

TEST_F(profile_functions, strings_read_trimmed_unquoted_and_cut_to_the_buffer)
{
    const char *f = file.c_str();
    put_text(file, "[S]\r\nq=\"quoted\"\r\nq1='x'\r\nq2=\"\r\nq3=\"a'\r\ne=\r\nbare\r\nlong=" + std::string(300, 'y') +
                       "\r\n");
    struct row { const char *key, *fallback; DWORD size; const char *text; } rows[] = {
        /* 0 */ {"q", "D", 260, "quoted"},
        /* 1 */ {"q", "D", 4, "quo"},
        /* 2 */ {"q", "D", 7, "quote"},   // the closing quote's place: one more character goes
        /* 3 */ {"q", "D", 8, "quoted"},
        /* 4 */ {"q1", "D", 260, "x"},
        /* 5 */ {"q2", "D", 260, "\""},
        /* 6 */ {"q3", "D", 260, "\"a'"},
        /* 7 */ {"e", "D", 260, ""},       // an empty value is not missing
        /* 8 */ {"bare", "D", 260, "D"},   // a line without '=' has no value
        /* 9 */ {"missing", "\"dq\"  ", 260, "dq"},
        /* 10 */ {"missing", " x  ", 260, " x"},
        /* 11 */ {"missing", "abcdef", 4, "abc"},
        /* 12 */ {" Q ", "D", 260, "quoted"},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << (&r - rows));
        char buffer[300];
        memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(strlen(r.text), GetPrivateProfileStringA("s", r.key, r.fallback, buffer, r.size, f));
        EXPECT_STREQ(r.text, buffer);
    }
    char text[260] = "own default";
    EXPECT_EQ(259u, GetPrivateProfileStringA("S", "long", text, text, sizeof text, f));
    EXPECT_EQ(std::string(259, 'y'), text);
    strcpy(text, "own default");
    EXPECT_EQ(11u, GetPrivateProfileStringA("S", "missing", text, text, sizeof text, f));
    EXPECT_STREQ("own default", text);
    EXPECT_EQ(3u, GetPrivateProfileStringA("S", "k", "\"q\"", text, sizeof text, "")); // no file: taken as is
    EXPECT_STREQ("\"q\"", text);
}

TEST_F(profile_functions, integers_parse_like_windows)
{
    const char *f = file.c_str();
    struct row { const char *value; UINT result; } rows[] = {
        /* 0 */ {"", 77}, /* 1 */ {"-5", 0xFFFFFFFBu}, /* 2 */ {"7abc", 7}, /* 3 */ {"abc", 0},
        /* 4 */ {"0x10", 16}, /* 5 */ {"0X10", 0}, /* 6 */ {"+3", 3}, /* 7 */ {"4294967296", 0},
        /* 8 */ {"4294967297", 1}, /* 9 */ {"99999999999", 1215752191}, /* 10 */ {"2147483648", 0x80000000u},
        /* 11 */ {"0b101", 5}, /* 12 */ {"0o17", 15}, /* 13 */ {"\"5\"", 5}, /* 14 */ {"-", 0},
        /* 15 */ {"\"\"", 77}, /* 16 */ {"000000000000000000000000000001", 0}, // cut to 29 characters
        /* 17 */ {"00000000000000000000000000001", 1}, /* 18 */ {"9 9", 9}, /* 19 */ {"0xfg", 15},
    };
    std::string text = "[S]\r\n";
    for (const row &r : rows) text += "k" + std::to_string(&r - rows) + "=" + r.value + "\r\n";
    put_text(file, text);
    for (const row &r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << (&r - rows));
        EXPECT_EQ(r.result, GetPrivateProfileIntA("S", ("k" + std::to_string(&r - rows)).c_str(), 77, f));
    }
    EXPECT_EQ(0xFFFFFFFBu, GetPrivateProfileIntA("S", "missing", -5, f));
    EXPECT_EQ(42u, GetPrivateProfileIntA("S", "k1", 42, ""));
}

TEST_F(profile_functions, struct_reads_need_the_count_and_the_checksum)
{
    const char *f = file.c_str();
    // Bytes 01 02, checksum 03. The buffer starts as CC CC CC.
    struct row { const char *value; UINT count; BOOL ok; const char *bytes; } rows[] = {
        /* 0 */ {"010203", 2, TRUE, "0102CC"},
        /* 1 */ {"010203", 1, FALSE, "01CCCC"},    // count below: the checksum cannot match
        /* 2 */ {"010203", 3, FALSE, "CCCCCC"},    // count above: nothing is copied
        /* 3 */ {"010204", 2, FALSE, "0102CC"},    // wrong checksum: the bytes are already copied
        /* 4 */ {"01020300", 2, TRUE, "0102CC"},   // characters behind the checksum are ignored
        /* 5 */ {"0102030", 2, TRUE, "0102CC"},
        /* 6 */ {"0102a3", 2, FALSE, "0102CC"},
        /* 7 */ {"1f2f4e", 2, TRUE, "1F2FCC"},     // lower case
        /* 8 */ {"01 0203", 2, FALSE, "01CCCC"},   // a space stops the decoding
        /* 9 */ {"01G203", 2, TRUE, "0102CC"},     // G counts as sixteen: 0x102 wraps to 02
        /* 10 */ {"0:0203", 2, FALSE, "CCCCCC"},
        /* 11 */ {"\"010203\"", 2, FALSE, "CCCCCC"},
        /* 12 */ {"00", 0, TRUE, "CCCCCC"},
        /* 13 */ {"", 0, FALSE, "CCCCCC"},
        /* 14 */ {nullptr, 2, FALSE, "CCCCCC"},
    };
    std::string text = "[S]\r\n";
    for (const row &r : rows)
        if (r.value) text += "k" + std::to_string(&r - rows) + "=" + r.value + "\r\n";
    put_text(file, text);
    for (const row &r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << (&r - rows));
        BYTE buffer[3] = {0xCC, 0xCC, 0xCC};
        EXPECT_EQ(r.ok, GetPrivateProfileStructA("S", ("k" + std::to_string(&r - rows)).c_str(), buffer, r.count, f));
        EXPECT_EQ(r.bytes, hex_of(buffer, 3));
    }
}

// The ANSI code page's spelling of wide text; "spelled" false where it has no such characters.
std::string ansi_of(const WCHAR *wide, bool *spelled = nullptr)
{
    char text[600];
    BOOL used = FALSE;
    int count = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, text, sizeof text, nullptr, &used);
    if (spelled) *spelled = count > 0 && !used;
    return count > 0 ? text : "";
}

enum file_encoding { no_file, ansi_file, utf8_file, utf16le_file, utf16be_file };

std::string encoded(file_encoding encoding, const WCHAR *text)
{
    if (encoding == utf16le_file || encoding == utf16be_file) return utf16(encoding == utf16be_file, text);
    if (encoding != utf8_file) return ansi_of(text);
    char utf8[600];
    int count = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
    return "\xEF\xBB\xBF" + std::string(utf8, count > 0 ? static_cast<size_t>(count - 1) : 0);
}

// Each row writes one key through the W functions into a file of one encoding, then reads it
// back; the A functions, given the ANSI code page's spelling of the same text, must leave the
// same bytes and read the same value, wherever that code page can spell the text.
TEST_F(profile_functions, wide_functions_read_and_write_what_the_ansi_ones_do)
{
    const char *f = file.c_str();
    wide_string wide_file = wide_of(f);
    const WCHAR *wf = wide_file.c_str();
    // Text in UTF-8, given to the W functions as WCHARs and to the A ones in the ANSI code page.
    struct row { file_encoding encoding; const char *seed, *section, *key, *value, *after; } rows[] = {
        /* 0 */ {no_file, nullptr, "S", "k", "v", "[S]\r\nk=v\r\n"}, // a new file is ANSI text
        /* 1 */ {ansi_file, "[O]\r\nz=1\r\n", "S", "k", "caf\u00E9", "[O]\r\nz=1\r\n[S]\r\nk=caf\u00E9\r\n"},
        /* 2 */ {utf8_file, "[S]\r\nk=1\r\n", "s", "K", " \u043A\u043B", "[S]\r\nk=\u043A\u043B\r\n"},
        /* 3 */ {utf16le_file, "[\u0414]\r\nz=\u041F\r\n", "\u0414", "\u044F", "\"q\"",
                 "[\u0414]\r\nz=\u041F\r\n\u044F=\"q\"\r\n"},
        /* 4 */ {utf16be_file, "[O]\r\nz=1\r\n[S]\r\nk=1\r\nj=2\r\n", "S", "k", nullptr,
                 "[O]\r\nz=1\r\n[S]\r\nj=2\r\n"},
        /* 5 */ {utf16be_file, "[O]\r\nz=1\r\n[S]\r\nk=1\r\n", "S", nullptr, nullptr, "[O]\r\nz=1\r\n"},
        /* 6 */ {utf16le_file, "[S]\r\n", "S", "k", "\U0001D11E", "[S]\r\nk=\U0001D11E\r\n"}, // a pair
    };
    for (const row &r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << (&r - rows));
        const wide_string section = wide_text(r.section), key = wide_text(r.key ? r.key : "k"),
                          given = wide_text(r.value ? r.value : "");
        remove_file(file);
        if (r.seed) put_text(file, encoded(r.encoding, wide_text(r.seed).c_str()));
        EXPECT_TRUE(WritePrivateProfileStringW(section.c_str(), r.key ? key.c_str() : nullptr,
                                               r.value ? given.c_str() : nullptr, wf));
        EXPECT_EQ(encoded(r.encoding, wide_text(r.after).c_str()), file_text(file));
        wide_string value = wide_text(r.value && r.value[0] == ' ' ? r.value + 1 : r.value ? r.value : "none");
        if (value == wide_text("\"q\"")) value = wide_text("q");
        WCHAR wide[40];
        EXPECT_EQ(value.size(), GetPrivateProfileStringW(section.c_str(), key.c_str(), wide_text("none").c_str(), wide,
                                                         40, wf));
        EXPECT_EQ(value, wide);

        bool spelled[3] = {true, true, true};
        std::string ansi_section = ansi_of(section.c_str(), &spelled[0]),
                    ansi_key = r.key ? ansi_of(key.c_str(), &spelled[1]) : "",
                    text = r.value ? ansi_of(given.c_str(), &spelled[2]) : "";
        if (!spelled[0] || !spelled[1] || !spelled[2]) continue; // Windows in a code page without them
        remove_file(file);
        if (r.seed) put_text(file, encoded(r.encoding, wide_text(r.seed).c_str()));
        EXPECT_TRUE(WritePrivateProfileStringA(ansi_section.c_str(), r.key ? ansi_key.c_str() : nullptr,
                                               r.value ? text.c_str() : nullptr, f));
        EXPECT_EQ(encoded(r.encoding, wide_text(r.after).c_str()), file_text(file));
        char narrow[40];
        GetPrivateProfileStringA(ansi_section.c_str(), r.key ? ansi_key.c_str() : "k", "none", narrow, sizeof narrow,
                                 f);
        EXPECT_EQ(ansi_of(value.c_str()), narrow);
    }

    // Cut to the buffer alike, sizes in characters; structs and integers alike.
    put_text(file, "[S]\r\nq=\"quoted\"\r\nn=-5\r\n");
    for (DWORD size = 1; size <= 9; size++) {
        SCOPED_TRACE(testing::Message() << "size " << size);
        char narrow[16];
        WCHAR wide[16];
        EXPECT_EQ(GetPrivateProfileStringA("S", "q", "", narrow, size, f),
                  GetPrivateProfileStringW(wide_text("S").c_str(), wide_text("q").c_str(), wide_string().c_str(), wide,
                                           size, wf));
        EXPECT_EQ(wide_of(narrow), wide);
    }
    const wide_string s = wide_text("S");
    EXPECT_EQ(0xFFFFFFFBu, GetPrivateProfileIntW(s.c_str(), wide_text("n").c_str(), 7, wf));
    EXPECT_EQ(7u, GetPrivateProfileIntW(s.c_str(), wide_text("missing").c_str(), 7, wf));
    BYTE record[3] = {1, 2, 0xFE}, back[3] = {};
    EXPECT_TRUE(WritePrivateProfileStructW(s.c_str(), wide_text("st").c_str(), record, 3, wf));
    EXPECT_EQ("[S]\r\nq=\"quoted\"\r\nn=-5\r\nst=0102FE01\r\n", file_text(file));
    EXPECT_TRUE(GetPrivateProfileStructW(s.c_str(), wide_text("st").c_str(), back, 3, wf));
    EXPECT_EQ("0102FE", hex_of(back, 3));

    char module[MAX_PATH];
    WCHAR wide_module[MAX_PATH];
    GetModuleFileNameA(nullptr, module, MAX_PATH);
    DWORD length = GetModuleFileNameW(nullptr, wide_module, MAX_PATH);
    EXPECT_EQ(wide_of(module), wide_string(wide_module, length));
}

// Texts of the full 259 characters (a pattern with spaces at both ends, which it keeps in
// quotes) come back whole through the ANSI profile functions and through the wide ones, which
// the store takes where the ANSI code page cannot spell the INI's folder.
TEST_F(settings_store, texts_of_259_characters_round_trip_on_both_routes)
{
    const std::string folder(259, 'd'), single(259, 's'), pattern = " " + std::string(257, 'n') + " ";
    for (bool wide : {false, true}) {
        SCOPED_TRACE(wide ? "wide functions" : "ANSI functions");
        remove_file(ini);
        auto use_route = [&] {
            strcpy(ini_path, wide ? "" : ini.c_str());
            wide_string wide_path = wide ? wide_of(ini.c_str()) : wide_string();
            memcpy(ini_path_wide, wide_path.c_str(), (wide_path.size() + 1) * sizeof(WCHAR));
        };
        use_route();
        strcpy(config_waveoutdir, folder.c_str());
        strcpy(cfg_wav1p, single.c_str());
        strcpy(cfg_name, pattern.c_str());
        settings_save();
        EXPECT_NE(file_text(ini).find("cfg_name=\"" + pattern + "\"\r\n"), std::string::npos);
        DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
        use_route();
        exchange_settings(false);
        EXPECT_EQ(folder, config_waveoutdir);
        EXPECT_EQ(single, cfg_wav1p);
        EXPECT_EQ(pattern, cfg_name);
    }
    ini_path_wide[0] = 0;
}

// The UTF-8 conversions the W functions rest on, as Wine gives them: a character beyond U+FFFF
// is a surrogate pair, a surrogate outside a pair becomes U+FFFD.
TEST(code_page_conversions, malformed_text_and_small_buffers)
{
    WCHAR wide[8];
    struct row {
        const char *text;
        int bytes;
        DWORD flags;
        int count;
        DWORD error;
        wide_string wide;
    } rows[] = {
        /* 0 */ {"a\xFF" "b", 3, 0, 3, 0, {'a', 0xFFFD, 'b'}},
        /* 1 */ {"a\xFF" "b", 3, MB_ERR_INVALID_CHARS, 0, ERROR_NO_UNICODE_TRANSLATION, {}},
        /* 2 */ {"\xC0\xAF", 2, 0, 2, 0, {0xFFFD, 0xFFFD}}, // overlong
        /* 3 */ {"a\xE2\x82" "b", 4, 0, 3, 0, {'a', 0xFFFD, 'b'}},  // cut short
        /* 4 */ {"\xD0\xBA\xC3\xA9", -1, 0, 3, 0, {0x043A, 0x00E9, 0}},
        /* 5 */ {"abcdefghi", 9, 0, 0, ERROR_INSUFFICIENT_BUFFER, {}},
        /* 6 */ {"ab", 0, 0, 0, ERROR_INVALID_PARAMETER, {}},
        /* 7 */ {"\xF0\x9D\x84\x9E", 4, 0, 2, 0, {0xD834, 0xDD1E}}, // U+1D11E
        /* 8 */ {"abcdef\xF0\x9D\x84\x9E", 10, 0, 8, 0, {'a', 'b', 'c', 'd', 'e', 'f', 0xD834, 0xDD1E}}, // fits
        /* 9 */ {"\xED\xA0\x80", 3, MB_ERR_INVALID_CHARS, 0, ERROR_NO_UNICODE_TRANSLATION, {}}, // U+D800's bytes
    };
    for (const row &r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << (&r - rows));
        SetLastError(12345);
        EXPECT_EQ(r.count, MultiByteToWideChar(CP_UTF8, r.flags, r.text, r.bytes, wide, 8));
        if (r.error) {
            EXPECT_EQ(r.error, GetLastError());
        }
        EXPECT_EQ(r.wide, wide_string(wide, r.count > 0 ? r.count : 0));
    }
    EXPECT_EQ(3, MultiByteToWideChar(CP_UTF8, 0, "abc", 3, nullptr, 0)); // the size needed
    EXPECT_EQ(2, MultiByteToWideChar(CP_UTF8, 0, "\xF0\x9D\x84\x9E", 4, nullptr, 0));

    char text[8];
    BOOL used = 12345;
    struct back_row {
        wide_string wide;
        int units;
        std::string text;
        BOOL used;
    } back_rows[] = {
        /* 0 */ {{'a', 0xD800, 'b'}, 3, "a\xEF\xBF\xBD" "b", TRUE}, // a lone surrogate becomes U+FFFD
        /* 1 */ {{0xD834, 0xDD1E}, 2, "\xF0\x9D\x84\x9E", FALSE},   // the pair of row 7
        /* 2 */ {{0xDD1E, 0xD834}, 2, "\xEF\xBF\xBD\xEF\xBF\xBD", TRUE}, // in the wrong order
        /* 3 */ {{0xD834, 0xDD1E}, 1, "\xEF\xBF\xBD", TRUE},        // the length cuts the pair
        /* 4 */ {{0xDC00, 'a'}, 2, "\xEF\xBF\xBD" "a", TRUE},
    };
    for (const back_row &r : back_rows) {
        SCOPED_TRACE(testing::Message() << "back row " << (&r - back_rows));
        used = 12345;
        int bytes = WideCharToMultiByte(CP_UTF8, 0, r.wide.c_str(), r.units, text, sizeof text, nullptr, &used);
        EXPECT_EQ(r.text, std::string(text, bytes > 0 ? bytes : 0));
        EXPECT_EQ(r.used, used);
    }
    const WCHAR ab[] = {'a', 'b', 0}, letters[] = {0x043A, 0x00E9};
    EXPECT_EQ(3, WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, ab, -1, text, sizeof text, nullptr, &used));
    EXPECT_EQ(FALSE, used);
    EXPECT_EQ(4, WideCharToMultiByte(CP_UTF8, 0, letters, 2, nullptr, 0, nullptr, nullptr));
    SetLastError(12345);
    EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, letters, 2, text, 3, nullptr, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());

    // Windows-1252 converts each WCHAR on its own: a pair, which it cannot spell, is two '?'.
#ifndef _WIN32
    shim_set_ansi_code_page(1252);
#endif
    const WCHAR pair[] = {'a', 0xD834, 0xDD1E};
    if (GetACP() == 1252) {
        EXPECT_EQ(3, WideCharToMultiByte(CP_ACP, 0, pair, 3, text, sizeof text, nullptr, &used));
        EXPECT_EQ("a??", std::string(text, 3));
        EXPECT_EQ(TRUE, used);
    }
#ifndef _WIN32
    shim_set_ansi_code_page(CP_UTF8);
#endif
}

} // namespace
