// A real file past 4 GiB, written to disk through the plug-in's entry points: RF64, read back
// whole by tollvane-play's own reader and, where installed, counted by sox's soxi (which reads an
// RF64 file through to its end: most of the test's minute) and libsndfile's sndfile-info. Natively only, and labelled "large" (ctest -LE large leaves it
// out of a quick run). It needs 4.4 GB for a few seconds: in memory (/dev/shm) where there is
// room, else in the working directory.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <string>

#include "config/settings_store.h"
#include "output/track_output.h"
#include "tests/test_support.h"
#include "tools/wav_reader.h"

// What a command prints, its first number; -1 when it cannot run.
static long long number_printed(const std::string &command)
{
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    long long number = -1;
    char line[256];
    while (number < 0 && fgets(line, sizeof line, pipe))
        for (char *p = line; *p && number < 0; p++)
            if (*p >= '0' && *p <= '9') number = strtoll(p, nullptr, 10);
    return pclose(pipe) == 0 ? number : -1;
}

static bool installed(const char *program)
{
    return system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

// A folder with room for the file, its name ending in '/'.
static std::string roomy_folder(void)
{
    struct statvfs room;
    if (statvfs("/dev/shm", &room) == 0 && uint64_t(room.f_bavail) * room.f_frsize > (6ull << 30)) {
        std::string folder = "/dev/shm/tollvane-large-" + std::to_string(getpid());
        if (mkdir(folder.c_str(), 0700) == 0) return folder + "/";
    }
    return "";
}

TEST(large_file, a_track_past_4_gib_is_an_rf64_file_every_reader_reads_whole)
{
    const std::string folder = roomy_folder(), path = folder + "large.wav";
    // Gone again however the test ends: 4.4 GB in memory would outlive it.
    struct cleanup {
        const std::string &folder, &path;
        ~cleanup()
        {
            remove_file(path);
            if (!folder.empty()) rmdir(folder.c_str());
        }
    } gone_at_the_end{folder, path};
    out_module *m = fresh_plugin("", question_policy::ok);
    strcpy(config_waveoutdir, folder.c_str());
    cfg_rf64 = cfg_info = 1;
    host_set_playlist(0, "large");
    remove_file(path);
    const uint64_t frames = 1100000000ull; // 4.4 GB of 16-bit stereo: 6 h 55 min
    std::vector<char> silence(1 << 20);
    std::vector<char> last = pcm_block(1000, 2, 16, 5);
    ASSERT_EQ(m->open(44100, 2, 16), 0);
    uint64_t left = frames * 4 - last.size();
    while (left > 0) {
        size_t piece = left < silence.size() ? static_cast<size_t>(left) : silence.size();
        m->write(silence.data(), static_cast<int>(piece));
        left -= piece;
    }
    m->write(last.data(), static_cast<int>(last.size()));
    m->close();
    EXPECT_TRUE(host_boxes.empty());

    file_ends ends = ends_of(path.c_str(), 4096);
    EXPECT_EQ(std::string(ends.head.begin(), ends.head.begin() + 4), "RF64");
    EXPECT_EQ(le64_at(ends.head, 28), frames * 4);
    wav_input wav;
    const char *reason = nullptr;
    ASSERT_TRUE(wav_reader_open(path.c_str(), &wav, &reason)) << reason;
    std::vector<char> block(1 << 20);
    uint64_t read_frames = 0;
    std::vector<char> tail;
    while (size_t bytes = wav_reader_read(&wav, block.data(), block.size() / 4)) {
        read_frames += bytes / 4;
        tail.assign(block.begin(), block.begin() + bytes);
    }
    wav_reader_close(&wav);
    EXPECT_EQ(read_frames, frames);
    ASSERT_GE(tail.size(), last.size());
    EXPECT_TRUE(std::equal(last.begin(), last.end(), tail.end() - last.size()));
    if (installed("soxi")) {
        EXPECT_EQ(number_printed("soxi -s " + path), static_cast<long long>(frames));
    }
    if (installed("sndfile-info")) {
        EXPECT_EQ(number_printed("sndfile-info " + path + " | grep '^Frames'"), static_cast<long long>(frames));
    }
}
