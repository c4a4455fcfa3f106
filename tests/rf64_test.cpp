// Past 4 GiB: with the RF64 option every WAV file the plug-in creates keeps room for 64-bit
// sizes, is a plain WAV file byte for byte (but for that room) while it stays under 4 GiB, and
// turns RF64 where it passes; the single file grows past 4 GiB where it has the room. Files past
// 4 GiB come from the stand-in's disk that never fills (natively) or from sparse single files
// just under 4 GiB (on both builds).
#include <gtest/gtest.h>

#include "config/settings_store.h"
#include "output/track_file.h"
#include "output/track_output.h"
#include "output/wav_container.h"
#include "tests/test_codec.h"
#include "tests/test_support.h"
#include "tools/wav_reader.h"
#ifndef _WIN32
#include "win32_shim/shim_control.h"
#endif

using bytes = std::vector<uint8_t>;

class rf64_test : public track_test {
protected:
    void SetUp() override
    {
        track_test::SetUp();
        host_config.questions = question_policy::ok;
        cfg_rf64 = 1;
    }
    void TearDown() override
    {
        if (output_state.is_open) m->close();
        test_codec_remove();
        remove_file("single.wav");
    }
    void play(int rate, int channels, int bits, const std::vector<char> &audio)
    {
        ::play(m, rate, channels, bits, audio, audio.size());
    }
};

// Under 4 GiB a file with the room is the file without it, the JUNK chunk added after "WAVE"
// and counted in the RIFF size: every reader reads it as before. So for PCM, a codec record with
// its fact chunk and tags behind the audio.
TEST_F(rf64_test, files_under_4_gib_are_plain_wav_files_with_the_room_added)
{
    auto audio = pcm_block(1001, 1, 8);
    play(8000, 1, 8, audio);
    bytes expected = pcm_header_with_room(1, 8000, 8, 1001);
    expected.insert(expected.end(), audio.begin(), audio.end());
    expected.push_back(0); // pad byte
    EXPECT_EQ(read_file("out/track.wav"), expected);

    test_codec_behaviour codec;
    codec.source_block_bytes = 4;
    test_codec_install(codec);
    bytes record = test_codec_format();
    memcpy(cfg_wfx, record.data(), record.size());
    cfg_cvt = cfg_mode = cfg_info = 1;
    auto stereo = pcm_block(3001, 2, 16);
    for (BYTE rf64 : {0, 1}) {
        cfg_rf64 = rf64;
        remove_file("out/track.wav");
        play(44100, 2, 16, stereo);
        bytes file = read_file("out/track.wav");
        if (!rf64) {
            expected = file;
            continue;
        }
        ASSERT_EQ(file.size(), expected.size() + 36);
        EXPECT_EQ(std::string(file.begin() + 12, file.begin() + 20), std::string("JUNK\x1c\0\0\0", 8));
        EXPECT_EQ(le32_at(file, 4), le32_at(expected, 4) + 36);
        file.erase(file.begin() + 12, file.begin() + 48);
        file[4] = expected[4], file[5] = expected[5], file[6] = expected[6], file[7] = expected[7];
        EXPECT_EQ(file, expected);
    }
}

// A single file just under 4 GiB (a sparse one, its audio a hole) takes a track of 8000 bytes:
// with the room and the option it turns RF64 and keeps the whole track, its sizes in ds64; with
// the option off, or without the room, it stops at 4 GiB as a plain WAV file always has. An RF64
// file is appended to with the option and refused untouched without it.
TEST_F(rf64_test, a_single_file_with_the_room_grows_past_4_gib_and_one_without_stops)
{
    cfg_wav1 = 1;
    strcpy(cfg_wav1p, "single.wav");
    const uint64_t length = wav_max_file_bytes - 1000;
    auto track = pcm_block(2000, 2, 16);
    struct row { bool room; BYTE option; bool grows; } rows[] = {{true, 1, true}, {true, 0, false}, {false, 1, false}};
    for (const row &r : rows) {
        SCOPED_TRACE(testing::Message() << "room " << r.room << ", option " << int(r.option));
        host_boxes.clear();
        cfg_rf64 = r.option;
        bytes head = r.room ? pcm_header_with_room(2, 44100, 16, 0xFFFFFFFFu) : pcm_header(2, 44100, 16, 0xFFFFFFFFu);
        make_sparse_file("single.wav", head, length);
        uint64_t payload = head.size(), audio_before = (length - payload) / 4 * 4;
        play(44100, 2, 16, track);
        file_ends ends = ends_of("single.wav", 8000);
        if (!r.grows) {
            ASSERT_EQ(host_boxes.size(), 1u);
            EXPECT_EQ(host_boxes[0].text, "WAV file size limit reached: \"single.wav\"");
            EXPECT_EQ(std::string(ends.head.begin(), ends.head.begin() + 4), "RIFF");
            EXPECT_LE(ends.length, uint64_t(wav_max_file_bytes));
            continue;
        }
        EXPECT_TRUE(host_boxes.empty());
        uint64_t data = audio_before + track.size();
        ASSERT_EQ(ends.length, payload + data);
        EXPECT_EQ(std::string(ends.head.begin(), ends.head.begin() + 16),
                  std::string("RF64\xFF\xFF\xFF\xFFWAVEds64", 16));
        EXPECT_EQ(le32_at(ends.head, 16), 28u);
        EXPECT_EQ(le64_at(ends.head, 20), ends.length - 8);   // RIFF size
        EXPECT_EQ(le64_at(ends.head, 28), data);              // data size
        EXPECT_EQ(le64_at(ends.head, 36), data / 4);          // sample count: frames
        EXPECT_EQ(le32_at(ends.head, 44 + 36), 0u);           // ds64's empty table, then fmt
        EXPECT_EQ(le32_at(ends.head, payload - 4), 0xFFFFFFFFu);
        EXPECT_EQ(bytes(ends.tail.begin(), ends.tail.end()), bytes(track.begin(), track.end()));
        wav_input wav;
        const char *reason = nullptr;
        ASSERT_TRUE(wav_reader_open("single.wav", &wav, &reason)) << reason;
        EXPECT_EQ(wav.data_bytes, data);
        EXPECT_EQ(wav.missing_bytes, 0u);
        wav_reader_close(&wav);

        // The RF64 file takes the next track with the option, and is refused without it.
        play(44100, 2, 16, track);
        EXPECT_EQ(le64_at(ends_of("single.wav", 64).head, 28), data + track.size());
        cfg_rf64 = 0;
        EXPECT_EQ(m->open(44100, 2, 16), -1);
        ASSERT_EQ(host_boxes.size(), 1u);
        EXPECT_EQ(host_boxes[0].text, "Not a PCM WAV file: \"single.wav\"");
        EXPECT_EQ(ends_of("single.wav", 64).length, ends.length + track.size());
    }
}

#ifndef _WIN32
// A per-track file past 4 GiB, through the stand-in's disk that never fills (the audio is a hole
// but for the last block): RF64, every byte counted in ds64, the tags behind the audio counted in
// its RIFF size; a codec file's fact value says all ones and ds64 has its frame count.
TEST_F(rf64_test, a_per_track_file_turns_rf64_where_it_passes_4_gib)
{
    cfg_info = 1;
    host_set_playlist(0, "track");
    std::vector<char> block(64u << 20);
    auto last = pcm_block(251, 2, 16);
    ASSERT_EQ(m->open(44100, 2, 16), 0);
    shim_set_write_sink(4096);
    for (int i = 0; i < 65; i++) m->write(block.data(), static_cast<int>(block.size()));
    shim_set_write_sink(0);
    m->write(last.data(), static_cast<int>(last.size()));
    m->close();
    EXPECT_TRUE(host_boxes.empty());
    uint64_t data = 65ull * block.size() + last.size();
    file_ends ends = ends_of("out/track.wav", 4096);
    uint32_t tags = static_cast<uint32_t>(ends.length - 80 - data);
    EXPECT_EQ(std::string(ends.head.begin(), ends.head.begin() + 4), "RF64");
    EXPECT_EQ(le64_at(ends.head, 20), ends.length - 8);
    EXPECT_EQ(le64_at(ends.head, 28), data);
    EXPECT_EQ(le64_at(ends.head, 36), data / 4);
    EXPECT_EQ(std::string(ends.tail.end() - tags, ends.tail.end() - tags + 4), "LIST");
    EXPECT_EQ(bytes(ends.tail.end() - tags - last.size(), ends.tail.end() - tags), bytes(last.begin(), last.end()));

    // A codec that makes 128 bytes of every frame passes 4 GiB from 13 minutes of audio.
    test_codec_behaviour codec;
    codec.source_block_bytes = 4;
    codec.block_bytes_out = 128;
    test_codec_install(codec);
    bytes record = test_codec_format();
    memcpy(cfg_wfx, record.data(), record.size());
    cfg_cvt = cfg_mode = 1;
    cfg_info = 0;
    remove_file("out/track.wav");
    const uint32_t frames = 34000000;
    std::vector<char> minutes(frames * 4ull);
    shim_set_write_sink(4096);
    ASSERT_EQ(m->open(44100, 2, 16), 0);
    for (size_t at = 0; at < minutes.size(); at += 576 * 4)
        m->write(minutes.data() + at, static_cast<int>(std::min<size_t>(576 * 4, minutes.size() - at)));
    m->close();
    shim_set_write_sink(0);
    EXPECT_TRUE(host_boxes.empty());
    ends = ends_of("out/track.wav", 4096);
    uint64_t payload = 12 + 36 + 8 + record.size() + (record.size() & 1) + 12 + 8;
    EXPECT_EQ(std::string(ends.head.begin(), ends.head.begin() + 4), "RF64");
    EXPECT_EQ(le64_at(ends.head, 28), frames * 128ull);
    EXPECT_EQ(le64_at(ends.head, 36), frames);            // the fact value, in ds64
    EXPECT_EQ(le32_at(ends.head, payload - 12), 0xFFFFFFFFu); // and all ones in fact
    remove_file("out/track.wav");
}
#endif
