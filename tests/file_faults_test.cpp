// One failed file or heap operation, at every point of a track: tollvane-play plays each
// scenario once per call the scenario makes, the stand-in failing the N-th call. Every run ends
// with the whole track in the file, exactly as without the fault, or with the user told and a
// non-zero exit; a track that never opened leaves no file of its own, and the audio already in
// the single file stays where it was and stays counted. Native only: the switch is the stand-in's.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "test_support.h"

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
    const char *output;     // the file the track goes to
    bool single_file_holds_audio;
};

static std::vector<scenario> scenarios()
{
    auto codec = [](const bytes &record) {
        return "cfg_cvt=1\r\ncfg_wfx_s=" + std::to_string(record.size()) + "\r\ncfg_wfx=" + struct_value(record) + "\r\n";
    };
    return {
        {"per-track PCM file", "", "t.wav", false},
        {"converted PCM file", codec(pcm_22050_mono), "t.wav", false},
        {"per-track codec file", codec(ima_44100_stereo), "t.wav", false},
        {"track appended to a single file with audio", "cfg_wav1=1\r\ncfg_wav1p=single.wav\r\n", "single.wav", true},
        {"single file created afresh", "cfg_wav1=1\r\ncfg_wav1p=single.wav\r\n", "single.wav", false},
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

struct run_result {
    int status;             // exit status; 128 + signal for a crash, 124 for a hang
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
    }

    void prepare(const scenario &s)
    {
        std::ofstream("tollvane-play.ini", std::ios::binary)
            << "[WAV Writing Output Driver]\r\nconfig_waveoutdir=\r\n" << s.settings;
        remove_file(s.output);
        if (s.single_file_holds_audio) write_file(s.output, earlier_single_file());
    }

    run_result play(long failing_call)
    {
        std::string command = "TOLLVANE_SHIM_FAIL_CALL=" + std::to_string(failing_call) +
                              " timeout 60 ./tollvane-play --yes --title t in.wav </dev/null 2>errors.txt";
        int status = system(command.c_str());
        run_result r;
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
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

// The single file's earlier audio after a run: where it was, byte for byte, and counted.
static std::string earlier_audio_problem(const bytes &before, const bytes &after)
{
    const size_t payload = 44;
    uint32_t earlier = le32_at(before, 40);
    if (after.size() < payload + earlier) return "the file is shorter than its earlier audio";
    if (!std::equal(before.begin() + 8, before.begin() + 40, after.begin() + 8)) return "its format changed";
    if (!std::equal(before.begin() + payload, before.begin() + payload + earlier, after.begin() + payload))
        return "its earlier audio changed";
    uint32_t counted = le32_at(after, 40);
    if (counted < earlier) return "its header no longer counts the earlier audio";
    if (counted > after.size() - payload) return "its header counts audio the file does not hold";
    return "";
}

TEST_F(file_faults, every_failed_call_ends_in_the_whole_track_or_a_message_and_loses_nothing_on_disk)
{
    for (const scenario &s : scenarios()) {
        SCOPED_TRACE(s.name);
        prepare(s);
        bytes before = s.single_file_holds_audio ? read_file(s.output) : bytes();
        run_result clean = play(0);
        ASSERT_EQ(clean.status, 0) << clean.errors;
        ASSERT_GT(clean.calls, 0) << "the stand-in did not report its calls: " << clean.errors;
        bytes whole = read_file(s.output);
        if (s.single_file_holds_audio) {
            ASSERT_EQ(earlier_audio_problem(before, whole), "");
        }

        int told = 0, recovered = 0;
        for (long n = 1; n <= clean.calls; n++) {
            prepare(s);
            run_result r = play(n);
            SCOPED_TRACE("call " + std::to_string(n) + " (" + r.failed + ") failed\n" + r.errors);
            ASSERT_FALSE(r.failed.empty()) << "the run made fewer calls than the clean one";
            ASSERT_TRUE(r.status == 0 || r.status == 1) << "crashed, hung or misused";
            EXPECT_EQ(r.errors.find("Sanitizer"), std::string::npos);
            EXPECT_EQ(r.errors.find("runtime error"), std::string::npos);
            bool exists = file_exists(s.output);
            bytes after = exists ? read_file(s.output) : bytes();
            if (r.status == 0) {
                EXPECT_EQ(after, whole) << "exit 0 without the whole track";
                recovered++;
                continue;
            }
            told++;
            EXPECT_NE(r.errors.find("Tollvane v1.4: "), std::string::npos) << "exit 1 without a message";
            bool refused = r.errors.find("could not open its output") != std::string::npos;
            if (s.single_file_holds_audio && refused) {
                EXPECT_EQ(after, before) << "a refused append changed the file";
            } else if (s.single_file_holds_audio) {
                EXPECT_EQ(earlier_audio_problem(before, after), "");
            } else if (refused) {
                EXPECT_FALSE(exists) << "a track that never opened left its file behind";
            }
        }
        printf("%s: %ld fault points, %d told to the user, %d recovered from\n", s.name, clean.calls, told, recovered);
    }
}
