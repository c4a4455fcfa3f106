// tollvane-play as a user runs it: WAV files of every width and header form in, and beyond
// 2 GiB, one output file per track out, titles (device names, overlong ones), block sizes,
// unreadable inputs, files cut short or with two fmt chunks, the overwrite question, messages
// on stderr, the exit status, a program path cut at MAX_PATH, and a run killed in the middle
// of a single-file track. A private copy of the program (and, on Windows, of the DLL) in the
// working directory keeps the INI file beside it to this test. Natively, the reader's reads
// are counted too.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/test_support.h"
#include "tools/wav_reader.h"
#ifndef _WIN32
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;
using bytes = std::vector<uint8_t>;

#ifdef _WIN32
static const char program[] = "tollvane-play.exe";
#else
static const char program[] = "./tollvane-play";
#endif

static void put16(bytes &b, uint32_t v) { b.push_back((uint8_t)v); b.push_back((uint8_t)(v >> 8)); }
static void put32(bytes &b, uint32_t v) { put16(b, v); put16(b, v >> 16); }
static void put_tag(bytes &b, const char *tag)
{
    for (int i = 0; i < 4; i++) b.push_back(static_cast<uint8_t>(tag[i]));
}

// A WAV file as other programs write them: optional extensible header and extra chunks.
static bytes make_wav(int rate, int channels, int bits, const std::vector<char> &audio, bool extensible = false,
                      bool extra_chunks = false)
{
    bytes fmt;
    uint16_t align = (uint16_t)(channels * bits / 8);
    put16(fmt, extensible ? 0xFFFE : 1);
    put16(fmt, channels);
    put32(fmt, rate);
    put32(fmt, rate * align);
    put16(fmt, align);
    put16(fmt, bits);
    if (extensible) {
        put16(fmt, 22);
        put16(fmt, bits);
        put32(fmt, 3);
        const uint8_t pcm_guid[16] = {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
        fmt.insert(fmt.end(), pcm_guid, pcm_guid + 16);
    }
    bytes body;
    put_tag(body, "WAVE");
    if (extra_chunks) { // an odd-sized chunk before fmt, with its pad byte
        put_tag(body, "junk");
        put32(body, 3);
        body.insert(body.end(), {1, 2, 3, 0});
    }
    put_tag(body, "fmt ");
    put32(body, (uint32_t)fmt.size());
    body.insert(body.end(), fmt.begin(), fmt.end());
    if (extra_chunks) {
        put_tag(body, "LIST");
        put32(body, 4);
        put_tag(body, "INFO");
    }
    put_tag(body, "data");
    put32(body, (uint32_t)audio.size());
    body.insert(body.end(), audio.begin(), audio.end());
    if (audio.size() & 1) body.push_back(0);
    bytes file;
    put_tag(file, "RIFF");
    put32(file, (uint32_t)body.size());
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

// What the plug-in writes for a PCM track without conversion.
static bytes expected_output(int rate, int channels, int bits, const std::vector<char> &audio)
{
    bytes header = make_wav(rate, channels, bits, {});
    bytes out(header.begin(), header.end() - 0);
    out.insert(out.end(), audio.begin(), audio.end());
    uint32_t data = (uint32_t)audio.size();
    out[40] = (uint8_t)data; out[41] = (uint8_t)(data >> 8); out[42] = (uint8_t)(data >> 16); out[43] = (uint8_t)(data >> 24);
    if (data & 1) out.push_back(0);
    uint32_t riff = (uint32_t)out.size() - 8;
    out[4] = (uint8_t)riff; out[5] = (uint8_t)(riff >> 8); out[6] = (uint8_t)(riff >> 16); out[7] = (uint8_t)(riff >> 24);
    return out;
}

struct run_result {
    int status;
    std::string errors;
};

class tollvane_play : public ::testing::Test {
protected:
    void SetUp() override
    {
        // mingw's copy_file throws on overwrite_existing: remove first.
        fs::remove(program);
        fs::copy_file(TOLLVANE_PLAY_PATH, program);
#ifdef _WIN32
        fs::remove("out_tollvane.dll");
        fs::copy_file(TOLLVANE_DLL_PATH, "out_tollvane.dll");
        const char *ini = "tollvane-play.ini";
#else
        const char *ini = "tollvane-play.ini";
#endif
#ifdef _WIN32
        // The first window of a Wine server's life starts the desktop process, which keeps the
        // standard handles of the program that made the window: let it keep NUL, not the
        // errors.txt that every later run must replace.
        static bool desktop_started;
        if (!desktop_started) {
            desktop_started = true;
            system("tollvane-play.exe in/no-such-file.wav <NUL >NUL 2>NUL");
        }
#endif
        // Per-track files into the working directory, on Windows and natively alike.
        std::ofstream(ini, std::ios::binary) << "[WAV Writing Output Driver]\r\nconfig_waveoutdir=\r\n";
        fs::create_directories("in");
        for (auto &entry : fs::directory_iterator("."))
            if (entry.path().extension() == ".wav" || entry.path().extension() == ".raw") fs::remove(entry.path());
    }

    run_result run(const std::string &args, const std::string &program_path = program)
    {
#ifdef _WIN32
        std::string command = program_path + " " + args + " <NUL 2>errors.txt";
        int status = system(command.c_str());
#else
        std::string command = program_path + " " + args + " </dev/null 2>errors.txt";
        int status = system(command.c_str());
        status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
#endif
        std::ifstream in("errors.txt", std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return {status, text.str()};
    }
};

TEST_F(tollvane_play, every_input_form_is_written_unchanged_with_the_plugin_header)
{
    struct row { const char *name; int rate, channels, bits; bool extensible, extra; } rows[] = {
        {"u8", 8000, 1, 8, false, false},     {"s16", 44100, 2, 16, false, true},
        {"s24", 96000, 2, 24, true, false},   {"s32", 48000, 1, 32, false, false},
        {"six", 48000, 6, 16, true, true},    {"odd", 11025, 1, 8, false, true},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.name);
        int frames = std::string(r.name) == "odd" ? 1001 : 3000;
        auto audio = pcm_block(frames, r.channels, r.bits, r.rate);
        write_file(std::string("in/") + r.name + ".wav", make_wav(r.rate, r.channels, r.bits, audio, r.extensible, r.extra));
        run_result result = run(std::string("in/") + r.name + ".wav");
        EXPECT_EQ(result.status, 0) << result.errors;
        EXPECT_EQ(read_file(std::string(r.name) + ".wav"), expected_output(r.rate, r.channels, r.bits, audio));
    }
}

TEST_F(tollvane_play, block_size_does_not_change_the_output)
{
    auto audio = pcm_block(5000, 2, 16);
    write_file("in/song.wav", make_wav(44100, 2, 16, audio));
    bytes expected = expected_output(44100, 2, 16, audio);
    for (const char *block : {"1", "7", "576", "4096", "100000"}) {
        SCOPED_TRACE(block);
        fs::remove("song.wav");
        EXPECT_EQ(run(std::string("--block ") + block + " in/song.wav").status, 0);
        EXPECT_EQ(read_file("song.wav"), expected);
    }
}

TEST_F(tollvane_play, titles_come_from_the_option_or_the_file_name)
{
    auto audio = pcm_block(10, 2, 16);
    write_file("in/one.two.wav", make_wav(44100, 2, 16, audio));
    write_file("in/second", make_wav(44100, 2, 16, audio));
    run_result result = run("--title \"AC/DC: Live?\" in/one.two.wav in/one.two.wav in/second");
    EXPECT_EQ(result.status, 0) << result.errors;
    EXPECT_TRUE(file_exists("AC_DC_ Live_.wav"));
    EXPECT_TRUE(file_exists("one_two.wav")); // the title drops only the last extension
    EXPECT_TRUE(file_exists("second.wav"));
}

TEST_F(tollvane_play, device_and_overlong_titles_still_reach_a_file)
{
    auto audio = pcm_block(10, 2, 16);
    write_file("in/song.wav", make_wav(44100, 2, 16, audio));
    std::string long_title(300, 'x');
    struct row { std::string title, file; } rows[] = {
        {"NUL", "NUL_.wav"}, {"aux", "aux_.wav"}, {"COM1", "COM1_.wav"}, {"CON", "CON_.wav"},
        {"lpt1", "lpt1_.wav"}, {"Prn  ", "Prn  _.wav"}, {"CONCERT", "CONCERT.wav"}, {"CONIN$", "CONIN$_.wav"},
        {long_title, std::string(251, 'x') + ".wav"}, // a name part holds 255 characters
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.title);
        run_result result = run("--title \"" + r.title + "\" in/song.wav");
        EXPECT_EQ(result.status, 0) << result.errors;
        EXPECT_EQ(read_file(r.file), expected_output(44100, 2, 16, audio));
        fs::remove(r.file);
    }
}

TEST_F(tollvane_play, unreadable_files_are_named_skipped_and_fail_the_run)
{
    auto audio = pcm_block(10, 2, 16);
    write_file("in/good.wav", make_wav(44100, 2, 16, audio));
    bytes float_wav = make_wav(44100, 2, 32, audio);
    float_wav[20] = 3; // IEEE float
    write_file("in/float.wav", float_wav);
    write_file("in/text.wav", {'h', 'e', 'l', 'l', 'o'});
    // A chunk claiming 0xFFFFFFFF bytes ends beyond the file: the data chunk after its header
    // lies inside it.
    bytes good_wav = make_wav(44100, 2, 16, audio), beyond;
    beyond.assign(good_wav.begin(), good_wav.begin() + 36);
    put_tag(beyond, "junk");
    put32(beyond, 0xFFFFFFFFu);
    beyond.insert(beyond.end(), good_wav.begin() + 36, good_wav.end());
    write_file("in/beyond.wav", beyond);
    run_result result = run("in/missing.wav in/float.wav in/text.wav in/beyond.wav in/good.wav");
    EXPECT_NE(result.status, 0);
    EXPECT_NE(result.errors.find("in/beyond.wav: no data chunk\n"), std::string::npos) << result.errors;
    EXPECT_FALSE(file_exists("beyond.wav"));
    EXPECT_NE(result.errors.find("in/missing.wav: cannot open the file\n"), std::string::npos) << result.errors;
    EXPECT_NE(result.errors.find("in/float.wav: not PCM data"), std::string::npos) << result.errors;
    EXPECT_NE(result.errors.find("in/text.wav: not a RIFF WAVE file\n"), std::string::npos) << result.errors;
    EXPECT_EQ(read_file("good.wav"), expected_output(44100, 2, 16, audio));
    EXPECT_FALSE(file_exists("missing.wav"));
}

static void set32(bytes &b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; i++) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

TEST_F(tollvane_play, questionable_inputs_are_read_as_other_readers_read_them)
{
    auto audio = pcm_block(3000, 2, 16);
    const size_t data_at = 44, size_at = 40; // make_wav's plain header
    bytes plain = make_wav(44100, 2, 16, audio);

    bytes cut(plain.begin(), plain.begin() + data_at + 2000 * 4 + 1); // and a byte of the next frame
    bytes streamed = plain;
    set32(streamed, size_at, 0xFFFFFFFFu); // a writer that could not go back to fill it in
    // A second fmt chunk after the first: 8-bit mono, or floating point, which alone is refused.
    auto with_second_fmt = [&](uint16_t tag, int rate, int channels, int bits) {
        bytes other = make_wav(rate, channels, bits, {});
        set32(other, 20, tag | uint32_t(channels) << 16);
        bytes file = plain;
        file.insert(file.begin() + 36, other.begin() + 12, other.begin() + 36);
        set32(file, 4, static_cast<uint32_t>(file.size() - 8));
        return file;
    };
    struct row {
        const char *name;
        bytes file;
        size_t frames_played;
        std::string errors;
    } rows[] = {
        {"cut", cut, 2000,
         "tollvane-play: in/cut.wav: cut short: 3999 of the 12000 bytes of audio its data chunk claims are missing "
         "(0.023 s); playing the rest\n"},                                          // 0
        {"streamed", streamed, 3000, ""},                                          // 1: no size is no claim
        {"two_fmt", with_second_fmt(1, 8000, 1, 8), 3000, ""},                     // 2
        {"two_fmt_float", with_second_fmt(3, 44100, 2, 32), 3000, ""},             // 3
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.name);
        write_file(std::string("in/") + r.name + ".wav", r.file);
        run_result result = run(std::string("in/") + r.name + ".wav");
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.errors, r.errors);
        std::vector<char> played(audio.begin(), audio.begin() + r.frames_played * 4);
        EXPECT_EQ(read_file(std::string(r.name) + ".wav"), expected_output(44100, 2, 16, played));
    }
}

TEST_F(tollvane_play, never_overwrites_without_consent)
{
    auto audio = pcm_block(10, 2, 16);
    write_file("in/song.wav", make_wav(44100, 2, 16, audio));
    bytes old_file = {'k', 'e', 'e', 'p'};
    for (const char *answer : {"", "--no "}) {
        SCOPED_TRACE(answer);
        write_file("song.wav", old_file);
        run_result result = run(std::string(answer) + "in/song.wav");
        EXPECT_NE(result.status, 0);
        EXPECT_NE(result.errors.find("Tollvane v1.4: File: \"song.wav\" already exists. Overwrite ?\n"),
                  std::string::npos)
            << result.errors;
        EXPECT_EQ(read_file("song.wav"), old_file);
    }
    run_result result = run("--yes in/song.wav");
    EXPECT_EQ(result.status, 0) << result.errors;
    EXPECT_EQ(read_file("song.wav"), expected_output(44100, 2, 16, audio));
}

// A stream as --retitle plays it, with numbered names and tags: each title gets a file of its
// own from the second after it shows (the player is asked once a second), the files' audio
// joined is the input's, and outside readers read that audio and see the tags.
TEST_F(tollvane_play, a_retitled_stream_splits_into_numbered_tagged_files)
{
    std::ofstream("tollvane-play.ini", std::ios::binary)
        << "[WAV Writing Output Driver]\r\nconfig_waveoutdir=\r\ncfg_name=\"%pos%. %title%\"\r\ncfg_info=1\r\n"
           "cfg_split=1\r\n";
    auto audio = pcm_block(44100 * 3, 2, 16);
    write_file("in/radio.wav", make_wav(44100, 2, 16, audio));
    run_result result = run("--title \"Station - Song one\" --retitle 1.5 \"Station - Song two\" in/radio.wav");
    EXPECT_EQ(result.status, 0) << result.errors;
    const char *names[] = {"01. Station - Song one.wav", "01. Station - Song two.wav"};
    std::vector<char> joined;
    for (const char *name : names) {
        SCOPED_TRACE(name);
        std::string title(name + 4, strlen(name) - 8);
        bytes file = read_file(name);
        ASSERT_GT(file.size(), 44u);
        uint32_t data = le32_at(file, 40);
        joined.insert(joined.end(), file.begin() + 44, file.begin() + 44 + data);
        std::string tail(file.begin() + 44 + data, file.end());
        EXPECT_NE(tail.find(std::string("INAM") + '\x13' + std::string(3, '\0') + title), std::string::npos);
#ifndef _WIN32
        std::string sox = "sox \"" + std::string(name) + "\" -t raw raw.out 2>&1";
        EXPECT_EQ(system(sox.c_str()), 0);
        bytes decoded = read_file("raw.out");
        EXPECT_TRUE(decoded == bytes(file.begin() + 44, file.begin() + 44 + data)) << "sox reads other audio";
        std::string info = "sndfile-info \"" + std::string(name) + "\" > info.out 2>&1";
        if (system(info.c_str()) == 0) {
            bytes text = read_file("info.out");
            EXPECT_NE(std::string(text.begin(), text.end()).find("INAM : " + title), std::string::npos);
        }
#endif
    }
    // The new title is seen at 2.0 s, in the first block of 576 frames from there.
    EXPECT_EQ(le32_at(read_file(names[0]), 40), (2u * 44100 + 575) / 576 * 576 * 4);
    EXPECT_TRUE(joined == audio) << "the files' audio joined is not the input's";
}

TEST_F(tollvane_play, usage_errors_exit_with_2)
{
    EXPECT_EQ(run("").status, 2);
    EXPECT_EQ(run("--block 0 x.wav").status, 2);
    EXPECT_EQ(run("--bogus x.wav").status, 2);
    EXPECT_EQ(run("--retitle soon x x.wav").status, 2);
    EXPECT_EQ(run("--retitle 1").status, 2);
    EXPECT_EQ(run("--help").status, 0);
#ifndef _WIN32
    // The dialog needs a window system: this build says so instead of pretending.
    run_result config = run("--config");
    EXPECT_EQ(config.status, 2);
    EXPECT_NE(config.errors.find("needs Windows or Wine"), std::string::npos) << config.errors;
#endif
}

TEST_F(tollvane_play, a_hand_written_ini_switches_modes)
{
    auto first = pcm_block(100, 2, 16, 1), second = pcm_block(50, 2, 16, 2);
    write_file("in/one.wav", make_wav(44100, 2, 16, first));
    write_file("in/two.wav", make_wav(44100, 2, 16, second));

    // LF line ends and stray spaces, as an editor may leave them.
    std::ofstream("tollvane-play.ini", std::ios::binary)
        << "[WAV Writing Output Driver]\nconfig_waveoutdir=\ncfg_wav1 = 1\ncfg_wav1p=mix.wav\ncfg_mode=2\ncfg_thread=1\n";
    fs::remove("mix.wav");
    EXPECT_EQ(run("in/one.wav in/two.wav").status, 0);
    std::vector<char> both(first);
    both.insert(both.end(), second.begin(), second.end());
    EXPECT_EQ(read_file("mix.wav"), expected_output(44100, 2, 16, both));
    EXPECT_FALSE(file_exists("one.raw"));
    auto saved = read_file("tollvane-play.ini");
    std::string text(saved.begin(), saved.end());
    EXPECT_NE(text.find("cfg_wav1=1\r\ncfg_wav1p=mix.wav\r\ncfg_mode=2\r\ncfg_thread=1\r\n"), std::string::npos) << text;

    std::ofstream("tollvane-play.ini", std::ios::binary) << "[WAV Writing Output Driver]\r\nconfig_waveoutdir=\r\ncfg_mode=2\r\n";
    EXPECT_EQ(run("in/one.wav").status, 0);
    EXPECT_EQ(read_file("one.raw"), bytes(first.begin(), first.end()));
}

// A file of the given length whose bytes are the given pieces at their offsets and zero
// elsewhere, made sparse: the gaps cost no disk.
static void write_sparse(const char *path, const std::vector<std::pair<uint64_t, bytes>> &pieces, uint64_t length)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    for (const auto &piece : pieces) {
        LONG high = static_cast<LONG>(piece.first >> 32);
        SetFilePointer(file, static_cast<LONG>(piece.first), &high, FILE_BEGIN);
        DWORD written = 0;
        WriteFile(file, piece.second.data(), static_cast<DWORD>(piece.second.size()), &written, nullptr);
        ASSERT_EQ(written, piece.second.size());
    }
    LONG high = static_cast<LONG>(length >> 32);
    SetFilePointer(file, static_cast<LONG>(length), &high, FILE_BEGIN);
    ASSERT_TRUE(SetEndOfFile(file));
    CloseHandle(file);
}

TEST_F(tollvane_play, inputs_beyond_2_gib_are_read_at_their_real_offsets)
{
    // A 2.25 GiB chunk before fmt and data: every offset after it needs more than 31 bits.
    const uint32_t junk_bytes = 0x90000000u;
    auto audio = pcm_block(1000, 2, 16);
    for (bool sized : {true, false}) {
        SCOPED_TRACE(sized ? "data size given" : "data size 0, read to the end");
        bytes head, tail;
        put_tag(head, "RIFF");
        put32(head, 0); // as streaming writers leave it
        put_tag(head, "WAVE");
        put_tag(head, "junk");
        put32(head, junk_bytes);
        bytes wav = make_wav(44100, 2, 16, audio);
        tail.assign(wav.begin() + 12, wav.end()); // fmt and data chunks
        if (!sized) tail[24 + 4] = tail[24 + 5] = tail[24 + 6] = tail[24 + 7] = 0;
        uint64_t tail_at = head.size() + uint64_t(junk_bytes);
        write_sparse("in/big.wav", {{0, head}, {tail_at, tail}}, tail_at + tail.size());
        fs::remove("big.wav");
        run_result result = run("in/big.wav");
        EXPECT_EQ(result.status, 0) << result.errors;
        EXPECT_EQ(read_file("big.wav"), expected_output(44100, 2, 16, audio));
    }
    fs::remove("in/big.wav");
}

#ifndef _WIN32
static uint64_t read_calls_so_far(void)
{
    std::ifstream io("/proc/self/io");
    std::string key;
    uint64_t value = 0;
    while (io >> key >> value)
        if (key == "syscr:") return value;
    return 0;
}

// The player's small blocks come out of large reads: 8 MiB read 576 frames at a time cost a
// read(2) per 4 KiB page when the reader left stdio its default buffer.
TEST(wav_reader, reads_in_large_pieces_and_hands_out_the_frames_asked_for)
{
    ASSERT_GT(read_calls_so_far(), 0u) << "no read count in /proc/self/io";
    auto audio = pcm_block(2 << 20, 2, 16);
    write_file("pieces.wav", make_wav(44100, 2, 16, audio));
    uint64_t before = read_calls_so_far();
    wav_input wav;
    const char *reason = nullptr;
    ASSERT_TRUE(wav_reader_open("pieces.wav", &wav, &reason)) << reason;
    std::vector<char> played, block(576 * 4);
    while (size_t got = wav_reader_read(&wav, block.data(), 576)) {
        ASSERT_TRUE(got == block.size() || played.size() + got == audio.size()) << played.size();
        played.insert(played.end(), block.begin(), block.begin() + got);
    }
    wav_reader_close(&wav);
    uint64_t reads = read_calls_so_far() - before;
    EXPECT_TRUE(played == audio);
    EXPECT_LE(reads, audio.size() / 65536 + 8) << "reads of less than 64 KiB";
    fs::remove("pieces.wav");
}
#endif

// Every Windows returns the buffer size for a cut path; whether the last byte then holds the
// terminator (Vista and later, the stand-in) or a character (XP, Wine 8) differs, so callers
// must rely on the size alone.
TEST(module_path, a_cut_path_returns_the_buffer_size)
{
    char full[4096];
    DWORD length = GetModuleFileNameA(nullptr, full, sizeof full);
    ASSERT_GT(length, 8u);
    ASSERT_LT(length, sizeof full);
    EXPECT_EQ(strlen(full), length);
    for (DWORD size : {DWORD(8), length, length + 1}) {
        SCOPED_TRACE(size);
        std::vector<char> buffer(size + 4, '\xCC');
        DWORD result = GetModuleFileNameA(nullptr, buffer.data(), size);
        bool cut = size <= length;
        EXPECT_EQ(result, cut ? size : length);
        EXPECT_EQ(std::string(buffer.data(), size - 1), std::string(full, size - 1));
        EXPECT_TRUE(buffer[size - 1] == 0 || buffer[size - 1] == full[size - 1]);
        EXPECT_EQ(buffer[size], '\xCC');
        // The wide path, which the plug-in reads, is cut the same way.
        std::vector<WCHAR> wide(size + 4, 0x7F7F);
        EXPECT_EQ(GetModuleFileNameW(nullptr, wide.data(), size), cut ? size : length);
        EXPECT_EQ(wide[size], 0x7F7F);
    }
}

#ifdef _WIN32
// A player in a folder whose name the ANSI code page cannot spell (here in three scripts, which
// no code page but UTF-8 holds together): the plug-in still reads its INI beside the program
// and saves to it (a pattern of the full 259 characters too), and tollvane-play loads the
// plug-in and reads its input from there.
TEST_F(tollvane_play, settings_are_read_and_saved_in_a_folder_the_ansi_code_page_cannot_spell)
{
    const std::wstring folder = L"\x43f\x430\x43f\x43a\x430 \x3c6\x3ac\x3ba\x3b5\x3bb\x3bf\x3c2 \x645\x62c\x644\x62f";
    BOOL lossy = FALSE;
    char ansi[MAX_PATH];
    WideCharToMultiByte(CP_ACP, 0, folder.c_str(), -1, ansi, sizeof ansi, nullptr, &lossy);
    if (!lossy) printf("note: code page %u spells the folder's name; the wide path is not needed here\n", GetACP());
    CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(L"tollvane-play.exe", (folder + L"\\tollvane-play.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(L"out_tollvane.dll", (folder + L"\\out_tollvane.dll").c_str(), FALSE));
    const std::wstring ini = folder + L"\\tollvane-play.ini";
    // A pattern of the full 259 characters, in quotes: "%%" gives one '%' of the name.
    std::string pattern = "%title%";
    while (pattern.size() < 259) pattern += "%%";
    const std::string ini_text = "[WAV Writing Output Driver]\r\nconfig_waveoutdir=out_folder\r\ncfg_mode=2\r\n"
                                 "cfg_name=\"" + pattern + "\"\r\n";
    const std::string output = "out_folder/song" + std::string(126, '%') + ".raw";
    auto audio = pcm_block(50, 2, 16);
    bytes input = make_wav(44100, 2, 16, audio);
    for (auto [name, content] : {std::pair{ini, bytes(ini_text.begin(), ini_text.end())},
                                 std::pair{folder + L"\\song.wav", input}}) {
        FILE *f = _wfopen(name.c_str(), L"wb");
        ASSERT_NE(f, nullptr);
        fwrite(content.data(), 1, content.size(), f);
        fclose(f);
    }
    fs::create_directories("out_folder");
    fs::remove(output);

    std::wstring command = L"\"" + folder + L"\\tollvane-play.exe\" \"" + folder + L"\\song.wav\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    WaitForSingleObject(process.hProcess, 60000);
    DWORD status = 99;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(read_file(output), bytes(audio.begin(), audio.end())); // the INI's mode, folder and pattern
    FILE *f = _wfopen(ini.c_str(), L"rb");
    ASSERT_NE(f, nullptr);
    char saved[4096];
    std::string text(saved, fread(saved, 1, sizeof saved, f));
    fclose(f);
    EXPECT_EQ(text, ini_text + "cfg_cvt=\r\ncfg_wav1=\r\ncfg_wav1p=c:\\out.wav\r\ncfg_thread=\r\ncfg_wfx_s=18\r\n"
                               "cfg_wfx=0100020044AC000010B10200040010000000CA\r\n"
                               "cfg_wfx1=0100020044AC000010B10200040010000000CA\r\n");
}
#endif

#ifdef _WIN32
// Under Wine file names are stored in UTF-8 beneath, where one euro sign of Windows-1252 takes
// three of a name's 255 bytes. Two long titles that share their first 86 euro signs (a station's
// name, then the song) still get a file each, with its track, its ".wav" and the second one
// numbered: both are cut to the 81 signs that leave room for " (99999)" and the extension.
TEST_F(tollvane_play, long_titles_of_three_byte_characters_keep_their_extension_under_wine)
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (!ntdll || !GetProcAddress(ntdll, "wine_get_version")) GTEST_SKIP() << "not under Wine";
    if (GetACP() != 1252) GTEST_SKIP() << "code page " << GetACP() << ", not Windows-1252";
    std::ofstream("tollvane-play.ini", std::ios::binary)
        << "[WAV Writing Output Driver]\r\nconfig_waveoutdir=\r\ncfg_exists=2\r\n";
    auto one = pcm_block(1000, 2, 16, 1), two = pcm_block(1000, 2, 16, 2);
    write_file("in/one.wav", make_wav(44100, 2, 16, one));
    write_file("in/two.wav", make_wav(44100, 2, 16, two));
    const std::string euros(86, '\x80');
    run_result result =
        run("--title \"" + euros + " Part One\" in/one.wav --title \"" + euros + " Part Two\" in/two.wav");
    EXPECT_EQ(result.status, 0) << result.errors;
    const std::string name(81, '\x80');
    EXPECT_EQ(read_file(name + ".wav"), expected_output(44100, 2, 16, one));
    EXPECT_EQ(read_file(name + " (2).wav"), expected_output(44100, 2, 16, two));
}
#endif

#ifndef _WIN32
// Natively the program can live deeper than MAX_PATH; its cut path must name no INI file.
TEST_F(tollvane_play, a_program_path_longer_than_max_path_keeps_the_defaults)
{
    std::string dir = fs::current_path().string() + "/deep";
    // The path of "tollvane." ends at 256 characters: cut to 259, it still names "tollvane.ini".
    while (dir.size() + 1 + strlen("tollvane.") < 256)
        dir += "/" + std::string(std::min<size_t>(100, 256 - dir.size() - 11), 'd');
    ASSERT_EQ(dir.size() + 1 + strlen("tollvane."), 256u);
    fs::create_directories(dir);
    std::string long_program = dir + "/tollvane.play";
    fs::remove(long_program);
    fs::copy_file(TOLLVANE_PLAY_PATH, long_program);
    const char ini_text[] = "[WAV Writing Output Driver]\r\nconfig_waveoutdir=\r\ncfg_mode=2\r\n";
    std::ofstream(dir + "/tollvane.ini", std::ios::binary) << ini_text;

    auto audio = pcm_block(10, 2, 16);
    write_file("in/song.wav", make_wav(44100, 2, 16, audio));
    run_result result = run("in/song.wav", long_program);
    EXPECT_EQ(result.status, 0) << result.errors;
    EXPECT_EQ(read_file("song.wav"), expected_output(44100, 2, 16, audio)); // defaults: a WAV file in c:\ .
    EXPECT_FALSE(file_exists("song.raw"));
    auto ini = read_file(dir + "/tollvane.ini");
    EXPECT_EQ(std::string(ini.begin(), ini.end()), ini_text);
    fs::remove_all("deep");
}
#endif

// A running program, killed as a crash or the task manager would end it.
struct running_program {
#ifdef _WIN32
    PROCESS_INFORMATION process = {};
#else
    pid_t pid = -1;
#endif
};

static running_program start_program(const std::string &args)
{
    running_program running;
#ifdef _WIN32
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::string command = std::string(program) + " " + args;
    // 64-bit Wine once refused this start in a loaded CI run: a second try after a pause covers
    // such a passing refusal, and a failure says why.
    BOOL started = FALSE;
    DWORD error = 0;
    for (int attempt = 0; attempt < 2 && !started; attempt++) {
        if (attempt) Sleep(500);
        started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                 &running.process);
        if (!started) error = GetLastError();
    }
    EXPECT_TRUE(started) << "CreateProcessA failed with error " << error;
#else
    running.pid = fork();
    if (running.pid == 0) {
        freopen("/dev/null", "r", stdin);
        freopen("errors.txt", "w", stderr);
        execl(program, program, "--block", "1", args.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
#endif
    return running;
}

static bool program_running(const running_program &running)
{
#ifdef _WIN32
    return WaitForSingleObject(running.process.hProcess, 0) == WAIT_TIMEOUT;
#else
    return waitpid(running.pid, nullptr, WNOHANG) == 0;
#endif
}

static void kill_program(running_program &running)
{
#ifdef _WIN32
    TerminateProcess(running.process.hProcess, 9);
    WaitForSingleObject(running.process.hProcess, INFINITE);
    CloseHandle(running.process.hProcess);
    CloseHandle(running.process.hThread);
#else
    kill(running.pid, SIGKILL);
    waitpid(running.pid, nullptr, 0);
#endif
}

// The length of a file that another process holds open without sharing.
static uint64_t held_file_length(const char *path)
{
#ifdef _WIN32
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return 0;
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
#else
    struct stat st;
    return stat(path, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
#endif
}

TEST_F(tollvane_play, a_killed_track_keeps_every_frame_on_disk_for_the_next_append)
{
    std::ofstream("tollvane-play.ini", std::ios::binary)
        << "[WAV Writing Output Driver]\r\nconfig_waveoutdir=\r\ncfg_wav1=1\r\ncfg_wav1p=mix.wav\r\n";
    fs::remove("mix.wav");
    auto first = pcm_block(44100 * 60, 2, 16, 1), second = pcm_block(3000, 2, 16, 2);
    write_file("in/long.wav", make_wav(44100, 2, 16, first));
    write_file("in/next.wav", make_wav(44100, 2, 16, second));

    // One frame per write keeps the track going long enough to be killed in the middle.
    running_program running = start_program(
#ifdef _WIN32
        "--block 1 in/long.wav"
#else
        "in/long.wav"
#endif
    );
    bool killed = false;
    for (int wait = 0; wait < 20000 && program_running(running); wait++) {
        if (held_file_length("mix.wav") > 44 + 40000) {
            kill_program(running);
            killed = true;
            break;
        }
        Sleep(1);
    }
    if (!killed) kill_program(running);
    ASSERT_TRUE(killed) << "the track ended before it could be killed";

    bytes left = read_file("mix.wav");
    ASSERT_GT(left.size(), 44u + 40000u);
    ASSERT_LT(left.size(), 44u + first.size());
    EXPECT_EQ(le32_at(left, 4), 0xFFFFFFFFu); // never patched: "to the end of the file"
    EXPECT_EQ(le32_at(left, 40), 0xFFFFFFFFu);
    size_t kept = (left.size() - 44) / 4 * 4;
    EXPECT_EQ(0, memcmp(left.data() + 44, first.data(), left.size() - 44));
    std::vector<char> read_back;
    ASSERT_TRUE(read_back_audio("mix.wav", &read_back)); // every whole frame, as other readers do
    EXPECT_EQ(read_back, std::vector<char>(first.begin(), first.begin() + kept));

    run_result result = run("in/next.wav");
    EXPECT_EQ(result.status, 0) << result.errors;
    std::vector<char> both(first.begin(), first.begin() + kept);
    both.insert(both.end(), second.begin(), second.end());
    EXPECT_EQ(read_file("mix.wav"), expected_output(44100, 2, 16, both));
    fs::remove("in/long.wav");
}

// wav-frames, whose numbers the demo's table shows: the frames the reader hands out (a cut
// file's whole frames, and the bytes its data chunk claims beyond the end), or its reason.
TEST_F(tollvane_play, wav_frames_prints_what_the_reader_reads)
{
#ifdef _WIN32
    const char *frames_program = "wav-frames.exe";
#else
    const char *frames_program = "./wav-frames";
#endif
    fs::remove(frames_program);
    fs::copy_file(TOLLVANE_WAV_FRAMES_PATH, frames_program);
    auto audio = pcm_block(1001, 2, 24);
    write_file("in/s24.wav", make_wav(96000, 2, 24, audio, true, true));
    bytes cut = make_wav(22050, 1, 16, std::vector<char>(3000, 1));
    cut.resize(44 + 2001); // 1000 frames and half of the next
    write_file("in/cut.wav", cut);
    bytes ima = make_wav(44100, 2, 16, audio);
    ima[20] = 0x11;
    write_file("in/ima.wav", ima);
    run_result result = run("in/s24.wav in/cut.wav in/ima.wav >frames.txt", frames_program);
    EXPECT_EQ(result.status, 1) << result.errors;
    std::string text;
    for (uint8_t c : read_file("frames.txt"))
        if (c != '\r') text += static_cast<char>(c); // Windows' console lines
    EXPECT_EQ(text, "in/s24.wav\tpcm\t96000\t2\t24\t1001\t0\n"
                    "in/cut.wav\tpcm\t22050\t1\t16\t1000\t999\n"
                    "in/ima.wav\trefused\tnot PCM data (compressed or floating-point format)\n");
}
