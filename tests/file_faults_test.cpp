// One failed file or heap operation, at every point of a track: tollvane-play plays each
// scenario once per call the scenario makes, the stand-in failing the N-th call, and once more
// with that call a write that writes only part of its bytes (a disk that fills up in the middle
// of a write, then frees again). Every run ends with the whole track in the file, exactly as
// without the fault, or with the user told, a non-zero exit, and a file whose audio is an exact
// prefix of the track in whole frames or codec blocks, counted exactly, that walks as a chain of
// chunks to its end; a track that never opened leaves no file of its own, and the audio already
// in the single file stays where it was and stays counted. Then the player killed at every
// point of a track: every file it leaves is read by other programs with every whole frame or
// codec block on disk, and the next append keeps them. Native only: the switches are the
// stand-in's.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "output/wav_container.h"
#include "tests/test_support.h"
#include "tools/wav_reader.h"

namespace fs = std::filesystem;
using bytes = std::vector<uint8_t>;

static bytes wav_image(uint16_t channels, uint32_t rate, uint16_t bits, const std::vector<char> &audio)
{
    bytes image = pcm_header(channels, rate, bits, static_cast<uint32_t>(audio.size()));
    image.insert(image.end(), audio.begin(), audio.end());
    if (audio.size() & 1) image.push_back(0);
    return image;
}

// A format record as the INI file holds it: hex bytes and their sum as the checksum byte.
static std::string struct_value(const bytes &record)
{
    std::string text;
    unsigned sum = 0;
    char hex[3];
    for (uint8_t b : record) {
        snprintf(hex, sizeof hex, "%02X", b);
        text += hex;
        sum += b;
    }
    snprintf(hex, sizeof hex, "%02X", sum & 0xFF);
    return text + hex;
}

static const bytes pcm_22050_mono = {1, 0, 1, 0, 0x22, 0x56, 0, 0, 0x44, 0xAC, 0, 0, 2, 0, 16, 0, 0, 0};
static const bytes ima_44100_stereo = {0x11, 0, 2, 0, 0x44, 0xAC, 0, 0, 0xDB, 0xAC, 0, 0, 0, 8, 4, 0, 2, 0, 0xF9, 7};

struct scenario {
    const char *name;
    std::string settings;   // the INI lines behind the section
    const char *input;      // in.wav: 16-bit stereo; in24.wav: 24-bit stereo; in8.wav: 8-bit mono, odd
    const char *output;     // the file the track goes to
    bool single_file;       // appended to (or created as) the single file
    bool single_file_holds_audio;
    uint32_t unit;          // bytes of a whole frame or codec block of the output
    uint32_t block_frames;  // frames a codec block holds; 0 for PCM (no fact chunk)
    bool replaces_old = false; // a per-track file of the track's name is there, to be replaced
    bool cue_sheet = false;    // the single file's cue sheet is there, to be added to
};

// The single file's cue sheet before each run: the earlier audio as its one track.
static const char earlier_sheet[] = "FILE \"single.wav\" WAVE\r\n  TRACK 01 AUDIO\r\n    TITLE \"earlier\"\r\n"
                                    "    INDEX 01 00:00:00\r\n";

// The INI lines that convert per-track files to record.
static std::string codec(const bytes &record)
{
    return "cfg_cvt=1\r\ncfg_wfx_s=" + std::to_string(record.size()) + "\r\ncfg_wfx=" + struct_value(record) + "\r\n";
}

static std::vector<scenario> scenarios()
{
    const std::string single = "cfg_wav1=1\r\ncfg_wav1p=single.wav\r\n";
    return {
        {"per-track PCM file", "", "in.wav", "t.wav", false, false, 4, 0},
        {"per-track PCM file replacing an old one", "cfg_exists=1\r\n", "in.wav", "t.wav", false, false, 4, 0, true},
        {"per-track 24-bit stereo file", "", "in24.wav", "t.wav", false, false, 6, 0},
        {"tagged odd-length 8-bit mono file", "cfg_info=1\r\n", "in8.wav", "t.wav", false, false, 1, 0},
        {"converted PCM file", codec(pcm_22050_mono), "in.wav", "t.wav", false, false, 2, 0},
        {"per-track codec file", codec(ima_44100_stereo), "in.wav", "t.wav", false, false, 2048, 2041},
        {"track appended to a single file with audio", single, "in.wav", "single.wav", true, true, 2, 0},
        {"single file created afresh", single, "in.wav", "single.wav", true, false, 4, 0},
        {"single file with its cue sheet", single + "cfg_cue=1\r\n", "in.wav", "single.wav", true, true, 2, 0, false,
         true},
    };
}

// What the single file held before each append: one second of 22050 Hz mono, so that the track
// is converted on the way in, and a tag chunk after the audio that the append removes.
static bytes earlier_single_file()
{
    bytes image = wav_image(1, 22050, 16, pcm_block(22050, 1, 16, 7));
    const uint8_t tag[] = {'L', 'I', 'S', 'T', 4, 0, 0, 0, 'I', 'N', 'F', 'O'};
    image.insert(image.end(), tag, tag + sizeof tag);
    uint32_t riff = static_cast<uint32_t>(image.size() - 8);
    for (int i = 0; i < 4; i++) image[4 + i] = static_cast<uint8_t>(riff >> (8 * i));
    return image;
}

// Where a WAV file's audio starts, and its fact value (0 without one), by walking its chunks up
// to "data", whatever its sizes say.
struct wav_layout_found {
    size_t payload = 0;
    uint32_t data_size = 0;
    uint32_t fact = 0;
};

static wav_layout_found find_layout(const bytes &file)
{
    wav_layout_found found;
    size_t at = 12;
    while (at + 8 <= file.size()) {
        std::string id(reinterpret_cast<const char *>(file.data() + at), 4);
        uint32_t size = le32_at(file, at + 4);
        if (id == "data") {
            found.payload = at + 8;
            found.data_size = size;
            return found;
        }
        if (id == "fact") found.fact = le32_at(file, at + 8);
        at += 8 + size + (size & 1);
    }
    return found;
}

// Whether a WAV file walks as a chain of chunks to its end, as readers walk it: every chunk
// whole, the last one ending with the file (its pad byte may be missing), or a data chunk whose
// size says "to the end of the file": 0xFFFFFFFF, or, where writing the true size was cut
// short, a size whose high bytes still claim more than the file holds.
static bool walks_to_its_end(const bytes &file)
{
    size_t at = 12;
    while (at + 8 <= file.size()) {
        std::string id(reinterpret_cast<const char *>(file.data() + at), 4);
        uint32_t size = le32_at(file, at + 4);
        if (id == "data" && size >= 0xFF000000u && file.size() - at - 8 < size) return true;
        if (file.size() - at - 8 < size) return false;
        at += 8 + size + (size & 1);
    }
    return at == file.size() || at == file.size() + 1;
}

// The audio that the next append to the file takes, as the plug-in's own rule says: the data
// size where the file holds that much, else every whole frame there.
static size_t audio_the_next_append_takes(const bytes &file, size_t payload, uint32_t frame_bytes)
{
    size_t present = file.size() - payload;
    size_t counted = le32_at(file, payload - 4);
    size_t taken = counted != 0 && counted <= present ? counted : present;
    return taken - taken % frame_bytes;
}

struct run_result {
    int status;             // exit status; 128 + signal for a crash or a kill, 124 for a hang
    std::string errors;     // stderr
    long calls = -1;        // calls of the file and heap functions the run made
    std::string failed;     // the function whose call failed, "" when the run made fewer calls
};

class file_faults : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::remove("tollvane-play");
        fs::copy_file(TOLLVANE_PLAY_PATH, "tollvane-play");
        write_file("in.wav", wav_image(2, 44100, 16, pcm_block(4000, 2, 16)));
        write_file("in24.wav", wav_image(2, 44100, 24, pcm_block(4000, 2, 24)));
        write_file("in8.wav", wav_image(1, 8000, 8, pcm_block(1001, 1, 8)));
    }

    void prepare(const scenario &s)
    {
        std::ofstream("tollvane-play.ini", std::ios::binary)
            << "[WAV Writing Output Driver]\r\nconfig_waveoutdir=\r\n" << s.settings;
        remove_file(s.output);
        if (s.single_file_holds_audio) write_file(s.output, earlier_single_file());
        if (s.replaces_old) write_file(s.output, {'o', 'l', 'd'});
        remove_file("single.cue");
        if (s.cue_sheet) write_file("single.cue", bytes(earlier_sheet, earlier_sheet + strlen(earlier_sheet)));
    }

    // switches: the stand-in's variables for the run, "" for none; input: the files and the
    // options before them.
    run_result play(const std::string &switches, const std::string &input = "in.wav")
    {
        std::string command = switches + " timeout 60 ./tollvane-play --yes --title t " + input +
                              " </dev/null 2>errors.txt";
        int status = system(command.c_str());
        run_result r;
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (WIFEXITED(status) && WEXITSTATUS(status) > 128) r.status = WEXITSTATUS(status); // the shell's report
        std::ifstream in("errors.txt");
        std::stringstream text;
        text << in.rdbuf();
        r.errors = text.str();
        std::string line;
        for (std::istringstream lines(r.errors); std::getline(lines, line);) {
            long n;
            char function[32];
            if (sscanf(line.c_str(), "win32_shim: call %ld, %31[^,],", &n, function) == 2) r.failed = function;
            if (sscanf(line.c_str(), "win32_shim: %ld calls", &n) == 1) r.calls = n;
        }
        return r;
    }
};

// The fault at one call of a scenario, checked against the clean run's file. patch_phase: the
// call was one of those that write the sizes at the end, which then cannot all be right.
static std::string fault_problem(const scenario &s, const run_result &r, const bytes &before, const bytes &whole,
                                 bool patch_phase)
{
    bool exists = file_exists(s.output);
    bytes after = exists ? read_file(s.output) : bytes();
    if (r.status == 0) return after == whole ? "" : "exit 0 without the whole track";
    if (r.status != 1) return "crashed, hung or misused";
    if (r.errors.find("Tollvane v1.4: ") == std::string::npos) return "exit 1 without a message";
    bool refused = r.errors.find("could not open its output") != std::string::npos;
    wav_layout_found clean = find_layout(whole);
    size_t earlier = s.single_file_holds_audio ? le32_at(before, 40) : 0;
    for (const auto &entry : fs::directory_iterator("."))
        if (entry.path().filename().string().rfind("t.~", 0) == 0) return "a temporary file is left behind";
    if (refused && s.replaces_old) return after == before ? "" : "a track that never opened changed the old file";
    if (refused && !s.single_file_holds_audio) return exists ? "a track that never opened left its file behind" : "";
    if (!exists) return "the file is gone";
    if (after.size() < clean.payload) return "the file is shorter than its header";
    size_t fmt_end = 20 + le32_at(whole, 16); // the sizes behind it are checked below
    if (!std::equal(whole.begin() + 8, whole.begin() + fmt_end, after.begin() + 8)) return "its format changed";

    size_t audio;
    if (s.single_file) {
        audio = audio_the_next_append_takes(after, clean.payload, s.unit);
    } else {
        if (!walks_to_its_end(after)) return "its chunks do not walk to its end";
        audio = le32_at(after, clean.payload - 4);
        if (audio >= 0xFF000000u) audio = after.size() - clean.payload; // the true size never reached it
        if (audio > after.size() - clean.payload) return "its data size counts audio the file does not hold";
    }
    if (audio < earlier || (earlier && !std::equal(before.begin() + 44, before.begin() + 44 + earlier, after.begin() + 44)))
        return "the earlier audio changed or is no longer counted";
    if (refused) return audio == earlier ? "" : "a refused append added audio";
    if ((audio - earlier) % s.unit != 0 && !patch_phase) return "the track's audio ends in a partial frame or block";
    if (!std::equal(after.begin() + clean.payload, after.begin() + clean.payload + audio, whole.begin() + clean.payload))
        return "the audio is not a prefix of the track";
    if (patch_phase) return "";
    if (le32_at(after, clean.payload - 4) != audio) return "the data size is not the audio on disk";
    if (after.size() != clean.payload + audio + (audio & 1)) return "the file holds more than its audio";
    if (le32_at(after, 4) != after.size() - 8) return "the RIFF size is not the file's";
    if (s.block_frames) {
        uint32_t expected = std::min<uint32_t>(clean.fact, static_cast<uint32_t>(audio / s.unit * s.block_frames));
        if (find_layout(after).fact != expected) return "the fact value is not what the kept blocks hold";
    }
    return "";
}

TEST_F(file_faults, every_failed_or_short_call_ends_in_the_whole_track_or_a_counted_prefix_on_the_grid)
{
    for (const scenario &s : scenarios()) {
        SCOPED_TRACE(s.name);
        prepare(s);
        bytes before = s.single_file_holds_audio || s.replaces_old ? read_file(s.output) : bytes();
        run_result clean = play("TOLLVANE_SHIM_FAIL_CALL=0", s.input);
        ASSERT_EQ(clean.status, 0) << clean.errors;
        ASSERT_GT(clean.calls, 0) << "the stand-in did not report its calls: " << clean.errors;
        bytes whole = read_file(s.output), whole_sheet = read_file("single.cue");
        if (s.cue_sheet) { // the track joined the sheet behind the earlier audio
            ASSERT_EQ(std::string(whole_sheet.begin(), whole_sheet.end()).find("TRACK 02"), strlen(earlier_sheet) + 2);
        }
        wav_layout_found layout = find_layout(whole);
        ASSERT_GT(layout.payload, 0u);
        // The sizes at the end: the data size, the pad byte, the tags, the RIFF size and the fact
        // value, each a move and a write.
        bool tagged = s.settings.find("cfg_info=1") != std::string::npos;
        long patch_calls = 2 * (2 + (layout.fact ? 1 : 0) + (layout.data_size & 1) + tagged);

        for (const char *mode : {"", "TOLLVANE_SHIM_SHORT_WRITE=1 "}) {
            int told = 0, recovered = 0;
            for (long n = 1; n <= clean.calls; n++) {
                prepare(s);
                run_result r = play(mode + std::string("TOLLVANE_SHIM_FAIL_CALL=") + std::to_string(n), s.input);
                SCOPED_TRACE(std::string(mode) + "call " + std::to_string(n) + " (" + r.failed + ") failed\n" + r.errors);
                ASSERT_FALSE(r.failed.empty()) << "the run made fewer calls than the clean one";
                EXPECT_EQ(r.errors.find("Sanitizer"), std::string::npos);
                EXPECT_EQ(r.errors.find("runtime error"), std::string::npos);
                EXPECT_EQ(fault_problem(s, r, before, whole, n > clean.calls - patch_calls), "");
                if (s.cue_sheet) {
                    bytes sheet = read_file("single.cue");
                    EXPECT_TRUE(sheet == whole_sheet || sheet == bytes(earlier_sheet, earlier_sheet + strlen(earlier_sheet)))
                        << "the sheet is neither the old one nor the new one";
                    for (const char *temporary : {"single.~01", "single.~02"}) EXPECT_FALSE(file_exists(temporary));
                }
                (r.status == 0 ? recovered : told)++;
            }
            printf("%s%s: %ld fault points, %d told to the user, %d recovered from\n", *mode ? "short writes, " : "",
                   s.name, clean.calls, told, recovered);
        }
    }
}

// What a killed player leaves of a file, read as other programs read it: its audio in whole
// units from the start of the data, as far as the data size says or, while that still says "to
// the end of the file", as far as the file goes. Empty where the header never reached the disk.
static bytes audio_left(const bytes &file, size_t payload, uint32_t unit)
{
    if (file.size() < payload) return bytes();
    size_t on_disk = file.size() - payload, counted = le32_at(file, payload - 4);
    size_t audio = counted >= 0xFF000000u || counted > on_disk ? on_disk : counted;
    audio -= audio % unit;
    return bytes(file.begin() + payload, file.begin() + payload + audio);
}

static bool have_sox(void) { return system("command -v sox >/dev/null 2>&1") == 0; }

// The player killed at every call of a track that writes files of its own: every file it leaves
// holds the track's start, and other readers take every whole frame (PCM, through tollvane-play's
// own reader) or whole codec block (IMA ADPCM, decoded by sox where it is installed) that reached
// the disk, without waiting for the sizes that only the end of the track writes.
TEST_F(file_faults, a_player_killed_in_a_track_leaves_files_readers_read_to_their_last_whole_frame)
{
    write_file("stream.wav", wav_image(1, 8000, 16, pcm_block(12000, 1, 16, 3)));
    struct killed_scenario {
        const char *name;
        std::string settings, args;
        std::vector<std::string> files;
        uint32_t unit, block_frames;
    } rows[] = {
        {"per-track 16-bit PCM", "", "in.wav", {"t.wav"}, 4, 0},
        {"per-track IMA ADPCM", codec(ima_44100_stereo), "in.wav", {"t.wav"}, 2048, 2041},
        {"tagged split stream", "cfg_info=1\r\ncfg_split=1\r\n", "--retitle 0.5 u stream.wav", {"t.wav", "u.wav"},
         2, 0},
        {"single file made by the first track", "cfg_wav1=1\r\ncfg_wav1p=t.wav\r\n", "in.wav", {"t.wav"}, 4, 0},
    };
    bool sox = have_sox();
    for (const killed_scenario &s : rows) {
        SCOPED_TRACE(s.name);
        std::ofstream("tollvane-play.ini", std::ios::binary)
            << "[WAV Writing Output Driver]\r\nconfig_waveoutdir=\r\n" << s.settings;
        for (const std::string &f : s.files) remove_file(f);
        run_result clean = play("TOLLVANE_SHIM_FAIL_CALL=0", s.args);
        ASSERT_EQ(clean.status, 0) << clean.errors;
        std::vector<bytes> whole;
        for (const std::string &f : s.files) whole.push_back(read_file(f));
        int files_read = 0;
        for (long n = 1; n <= clean.calls; n++) {
            for (const std::string &f : s.files) remove_file(f);
            run_result r = play("TOLLVANE_SHIM_CRASH_CALL=" + std::to_string(n), s.args);
            SCOPED_TRACE("killed at call " + std::to_string(n) + "\n" + r.errors);
            ASSERT_EQ(r.status, 128 + SIGKILL);
            for (size_t i = 0; i < s.files.size(); i++) {
                if (!file_exists(s.files[i])) continue;
                bytes left = read_file(s.files[i]);
                size_t payload = find_layout(whole[i]).payload;
                bytes audio = audio_left(left, payload, s.unit);
                ASSERT_TRUE(std::equal(audio.begin(), audio.end(), whole[i].begin() + payload))
                    << s.files[i] << " does not hold the start of its audio";
                if (left.size() < payload) continue; // killed before its header was on disk
                files_read++;
                if (!s.block_frames) {
                    std::vector<char> read_back;
                    ASSERT_TRUE(read_back_audio(s.files[i], &read_back));
                    EXPECT_EQ(bytes(read_back.begin(), read_back.end()), audio) << s.files[i];
                    continue;
                }
                EXPECT_EQ(find_layout(left).payload, payload) << "its header does not walk to the data";
                if (!sox) continue;
                std::string decode = "sox " + s.files[i] + " -t raw decoded.raw 2>/dev/null";
                ASSERT_EQ(system(decode.c_str()), 0);
                size_t blocks = audio.size() / s.unit;
                EXPECT_GE(read_file("decoded.raw").size(), blocks * s.block_frames * 4) << "sox decodes fewer frames";
            }
        }
        printf("%s: killed at each of %ld calls; every file left read to its last whole %s%s\n", s.name, clean.calls,
               s.block_frames ? "block" : "frame", s.block_frames && !sox ? " (sox not installed: not decoded)" : "");
        EXPECT_GT(files_read, 0);
    }
}

// The frames sndfile-info counts in a file, from its header alone; -1 where it is not installed
// or refuses the file.
static long long sndfile_frames(const char *path)
{
    std::string command = std::string("sndfile-info ") + path + " 2>/dev/null >sndfile.txt";
    if (system("command -v sndfile-info >/dev/null 2>&1") != 0 || system(command.c_str()) != 0) return -1;
    std::ifstream in("sndfile.txt");
    std::string line;
    long long frames = -1;
    while (std::getline(in, line)) sscanf(line.c_str(), "Frames : %lld", &frames);
    return frames;
}

// A single file with the room for RF64's sizes, just under 4 GiB (a sparse one), takes a track
// that carries it past: the player killed at every call of that track, the switch to RF64 among
// them, leaves a file that tollvane-play's reader and libsndfile read to its last whole frame, and
// that the next append takes with all of it.
TEST_F(file_faults, a_player_killed_while_the_single_file_turns_rf64_leaves_every_whole_frame)
{
    std::ofstream("tollvane-play.ini", std::ios::binary)
        << "[WAV Writing Output Driver]\r\ncfg_wav1=1\r\ncfg_wav1p=single.wav\r\ncfg_rf64=1\r\n";
    const bytes head = pcm_header_with_room(2, 44100, 16, 0xFFFFFFFFu);
    const uint64_t payload = head.size(), before = (wav_max_file_bytes - 3000 - payload) / 4 * 4;
    const uint64_t length = payload + before;
    const std::vector<char> next = pcm_block(700, 2, 16, 9);
    write_file("next.wav", wav_image(2, 44100, 16, next));
    make_sparse_file("single.wav", head, length);
    run_result clean = play("TOLLVANE_SHIM_FAIL_CALL=0");
    ASSERT_EQ(clean.status, 0) << clean.errors;
    const file_ends whole = ends_of("single.wav", 16000);
    const bytes &track = whole.tail; // the track's 16000 bytes end the file
    ASSERT_EQ(std::string(whole.head.begin(), whole.head.begin() + 4), "RF64");

    int rf64_left = 0;
    for (long n = 1; n <= clean.calls; n++) {
        make_sparse_file("single.wav", head, length);
        run_result r = play("TOLLVANE_SHIM_CRASH_CALL=" + std::to_string(n));
        SCOPED_TRACE("killed at call " + std::to_string(n) + "\n" + r.errors);
        ASSERT_EQ(r.status, 128 + SIGKILL);
        file_ends left = ends_of("single.wav", 20000);
        size_t on_disk = static_cast<size_t>(left.length - payload - before); // of the track, a frame cut or not
        ASSERT_LE(on_disk, track.size());
        ASSERT_TRUE(std::equal(left.tail.end() - on_disk, left.tail.end(), track.begin()))
            << "the disk holds more than the earlier audio and a prefix of the track";
        uint64_t kept = on_disk / 4 * 4;
        rf64_left += std::string(left.head.begin(), left.head.begin() + 4) == "RF64";
        wav_input wav;
        const char *reason = nullptr;
        ASSERT_TRUE(wav_reader_open("single.wav", &wav, &reason)) << reason;
        EXPECT_EQ(wav.data_bytes / 4 * 4, before + kept);
        wav_reader_close(&wav);
        long long frames = sndfile_frames("single.wav");
        if (frames >= 0) {
            EXPECT_EQ(uint64_t(frames), (before + kept) / 4);
        }

        run_result appended = play("", "next.wav");
        ASSERT_EQ(appended.status, 0) << appended.errors;
        file_ends after = ends_of("single.wav", 128);
        EXPECT_EQ(after.length, payload + before + kept + next.size());
        bool rf64 = std::string(after.head.begin(), after.head.begin() + 4) == "RF64";
        EXPECT_EQ(rf64 ? le64_at(after.head, 28) : le32_at(after.head, payload - 4), before + kept + next.size());
        EXPECT_EQ(bytes(ends_of("single.wav", next.size()).tail), bytes(next.begin(), next.end()));
    }
    printf("killed at each of %ld calls of a track that carries a single file past 4 GiB, %d of them "
           "after the switch to RF64; every file read to its last whole frame and appended to\n",
           clean.calls, rf64_left);
    remove_file("single.wav");
}

// The single file holds 24-bit stereo audio; a 16-bit track converted on the way in is killed
// at each call in turn, then a 24-bit track is appended. The file must then hold the earlier
// audio, every whole frame of the killed track that reached the disk, and the new track, in that
// order, counted exactly.
TEST_F(file_faults, a_player_killed_while_appending_loses_no_whole_frame_that_reached_the_disk)
{
    const bytes earlier = wav_image(2, 44100, 24, pcm_block(3000, 2, 24, 5));
    const std::vector<char> next = pcm_block(700, 2, 24, 9);
    write_file("next.wav", wav_image(2, 44100, 24, next));
    std::ofstream("tollvane-play.ini", std::ios::binary)
        << "[WAV Writing Output Driver]\r\ncfg_wav1=1\r\ncfg_wav1p=single.wav\r\n";
    write_file("single.wav", earlier);
    run_result clean = play("TOLLVANE_SHIM_FAIL_CALL=0");
    ASSERT_EQ(clean.status, 0) << clean.errors;
    bytes whole = read_file("single.wav");
    ASSERT_GT(whole.size(), earlier.size() + 12000);

    int killed = 0;
    for (long n = 1; n <= clean.calls; n++) {
        write_file("single.wav", earlier);
        run_result r = play("TOLLVANE_SHIM_CRASH_CALL=" + std::to_string(n));
        SCOPED_TRACE("killed at call " + std::to_string(n) + "\n" + r.errors);
        ASSERT_EQ(r.status, 128 + SIGKILL);
        killed++;
        bytes left = read_file("single.wav");
        size_t kept = (left.size() - 44) / 6 * 6; // every whole frame on disk, whatever the header says
        ASSERT_GE(kept, earlier.size() - 44);
        ASSERT_LE(kept, whole.size() - 44);
        ASSERT_TRUE(std::equal(left.begin() + 44, left.begin() + 44 + kept, whole.begin() + 44))
            << "the disk holds more than the earlier audio and a prefix of the killed track";

        run_result appended = play("", "next.wav");
        ASSERT_EQ(appended.status, 0) << appended.errors;
        std::vector<char> audio(left.begin() + 44, left.begin() + 44 + kept);
        audio.insert(audio.end(), next.begin(), next.end());
        EXPECT_EQ(read_file("single.wav"), wav_image(2, 44100, 24, audio));
    }
    printf("killed at each of %d calls of an append; every next append kept what had reached the disk\n", killed);
}
