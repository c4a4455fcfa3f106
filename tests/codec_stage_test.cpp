// The codec stage through the player's entry points, with a test codec installed into the ACM
// of either build: which pipeline shape a target gets, the flags and lengths every conversion
// call sees, source carried between calls, the drain, codec files of every kind, blocks larger
// than the stage's buffers, codecs that misbehave, and what the disk sees when it fills.
#include <gtest/gtest.h>

#include "config/settings_store.h"
#include "convert/codec_stage.h"
#include "output/track_file.h"
#include "output/track_output.h"
#include "tests/test_codec.h"
#include "tests/test_support.h"
#ifndef _WIN32
#include "win32_shim/shim_control.h"
#endif

using bytes = std::vector<uint8_t>;

static const DWORD start = ACM_STREAMCONVERTF_START, blockalign = ACM_STREAMCONVERTF_BLOCKALIGN,
                   end = ACM_STREAMCONVERTF_END;

class codec_stage_test : public track_test {
protected:
    void TearDown() override
    {
        if (output_state.is_open) m->close();
        test_codec_remove();
    }
    // Per-track conversion to the test codec's record, as a WAV file unless mode says otherwise.
    void use_codec(const test_codec_behaviour &b, BYTE mode = 1)
    {
        test_codec_install(b);
        bytes record = test_codec_format();
        memcpy(cfg_wfx, record.data(), record.size());
        cfg_cvt = 1;
        cfg_mode = mode;
    }
    std::vector<DWORD> flags_seen()
    {
        std::vector<DWORD> flags;
        for (const test_codec_call &c : test_codec_calls()) flags.push_back(c.flags);
        return flags;
    }
    std::vector<DWORD> lengths_seen()
    {
        std::vector<DWORD> lengths;
        for (const test_codec_call &c : test_codec_calls()) lengths.push_back(c.source_bytes);
        return lengths;
    }
};

// One source byte per 4-byte stereo frame: each output byte is the first byte of its frame.
static test_codec_behaviour frame_codec()
{
    test_codec_behaviour b;
    b.source_block_bytes = 4;
    b.block_bytes_out = 1;
    return b;
}

TEST_F(codec_stage_test, the_shape_follows_the_target_and_what_the_codec_opens)
{
    struct row {
        int rate, channels, bits;
        bool converter, stream;
    } rows[] = {
        {44100, 2, 16, false, true}, // 0: the codec opens straight from the input
        {22050, 1, 16, true, true},  // 1: through the PCM format it suggests
        {44100, 2, 8, true, true},   // 2: another width only
        {48000, 6, 24, true, true},  // 3
    };
    use_codec(frame_codec());
    for (const row &r : rows) {
        SCOPED_TRACE(testing::Message() << r.rate << "/" << r.channels << "/" << r.bits);
        ASSERT_EQ(m->open(r.rate, r.channels, r.bits), 0);
        EXPECT_EQ(codec_state.converter != nullptr, r.converter);
        EXPECT_EQ(codec_state.stream != nullptr, r.stream);
        m->close();
        remove_file("out/track.wav");
        EXPECT_EQ(codec_state.converter, nullptr);
        EXPECT_EQ(codec_state.stream, nullptr);
        EXPECT_EQ(codec_state.source_buffer, nullptr);
        EXPECT_EQ(codec_state.output_buffer, nullptr);
    }
    // A PCM target needs the converter alone, and no codec is asked.
    WAVEFORMATEX pcm = {WAVE_FORMAT_PCM, 1, 22050, 44100, 2, 16, 0};
    memcpy(cfg_wfx, &pcm, sizeof pcm);
    size_t calls = test_codec_calls().size();
    ASSERT_EQ(m->open(44100, 2, 16), 0);
    EXPECT_NE(codec_state.converter, nullptr);
    EXPECT_EQ(codec_state.stream, nullptr);
    m->close();
    EXPECT_EQ(test_codec_calls().size(), calls);
    codec_destroy(); // a second release has nothing left to free
    EXPECT_EQ(codec_state.output_buffer, nullptr);
}

// 65535 channels of 8-bit samples at 44100 Hz pass 2^31 - 1 bytes a second: the converter's
// reserve is still known, and both converter shapes convert such a track, in pieces of whole
// frames, rather than write an empty file in silence.
TEST_F(codec_stage_test, an_input_past_two_gigabytes_a_second_is_converted_in_pieces)
{
    auto audio = pcm_block(3, 65535, 8); // 3 frames: more than the stage's 128 KiB buffers
    WAVEFORMATEX pcm = {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    struct row { bool codec; uint32_t data_bytes; } rows[] = {
        {false, 3 * 4}, // 0: converter-only, to 3 frames of stereo 16-bit
        {true, 3},      // 1: converter-then-ACM, one codec byte a frame
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.codec);
        if (r.codec) {
            use_codec(frame_codec());
        } else {
            memcpy(cfg_wfx, &pcm, sizeof pcm);
            cfg_cvt = 1;
        }
        ASSERT_EQ(m->open(44100, 65535, 8), 0);
        write(audio);
        m->close();
        EXPECT_TRUE(host_boxes.empty());
        EXPECT_EQ(file_state.data_bytes, r.data_bytes);
        remove_file("out/track.wav");
    }
}

// Records that no codec takes, or that a codec would divide by (the system's IMA ADPCM encoder
// divides by a block size of 0 and takes the player down), are refused at open: no file is left,
// and an existing one the user agreed to replace stays byte for byte as it was.
TEST_F(codec_stage_test, a_target_no_codec_can_take_is_refused_and_costs_no_file)
{
    struct row {
        const char *name;
        BYTE record[20];
    } rows[] = {
        {"a tag no codec has", {0x34, 0x12, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 4, 0, 2, 0, 9, 9}},
        {"IMA ADPCM with a block size of 0",
         {0x11, 0, 1, 0, 0x40, 0x1F, 0, 0, 0xD7, 0x0F, 0, 0, 0, 0, 4, 0, 2, 0, 0xF9, 1}},
        {"IMA ADPCM, 2041 samples in blocks of 1024 stereo bytes",
         {0x11, 0, 2, 0, 0x44, 0xAC, 0, 0, 0xDB, 0xAC, 0, 0, 0, 4, 4, 0, 2, 0, 0xF9, 7}},
        {"IMA ADPCM without samples per block",
         {0x11, 0, 2, 0, 0x44, 0xAC, 0, 0, 0xDB, 0xAC, 0, 0, 0, 8, 4, 0, 2, 0, 0, 0}},
        {"IMA ADPCM with a byte more than its own", // sox loses the data chunk behind it
         {0x11, 0, 2, 0, 0x44, 0xAC, 0, 0, 0xDB, 0xAC, 0, 0, 0, 8, 4, 0, 3, 0, 0xF9, 7}},
    };
    const bytes old_file = {'o', 'l', 'd'};
    for (const row &r : rows) {
        for (BYTE existing : {0, 1, 2}) { // no file; one the user agrees to replace; one replaced unasked
            SCOPED_TRACE(testing::Message() << r.name << (existing ? ", over an existing file" : "")
                                            << (existing == 2 ? " replaced unasked" : ""));
            fresh_plugin("out", question_policy::ok);
            memcpy(cfg_wfx, r.record, sizeof r.record);
            cfg_cvt = 1;
            cfg_exists = existing == 2 ? exists_replace : exists_ask;
            if (existing) write_file("out/track.wav", old_file);
            else remove_file("out/track.wav");
            EXPECT_EQ(m->open(44100, 2, 16), -1);
            ASSERT_EQ(host_boxes.size(), existing == 1 ? 2u : 1u); // the question first, where it is asked
            EXPECT_EQ(host_boxes.back().text, "Error initializing output.");
            if (existing) {
                EXPECT_EQ(read_file("out/track.wav"), old_file);
            } else {
                EXPECT_FALSE(file_exists("out/track.wav"));
            }
            EXPECT_EQ(codec_state.converter, nullptr);
            EXPECT_EQ(codec_state.stream, nullptr);
            auto block = pcm_block(10, 2, 16);
            write(block); // nothing is open: nothing is written
            EXPECT_EQ(file_exists("out/track.wav"), existing != 0);
        }
    }
    remove_file("out/track.wav");
}

// The fact value counts the frames the codec consumed: not the silence that fills up its last
// block, and never more than the blocks that stay in the file hold. The system's codecs under
// Wine, the stand-in's natively, which write the same bytes.
TEST_F(codec_stage_test, fact_counts_the_frames_the_codec_took_and_the_file_keeps)
{
    struct row {
        const char *name;
        BYTE record[20];
        int frames;
        long long disk_room; // bytes the disk takes before it is full; -1: no limit
        uint32_t data_bytes, fact;
    } rows[] = {
        {"IMA ADPCM, its last block filled up with silence",
         {0x11, 0, 2, 0, 0x44, 0xAC, 0, 0, 0xDB, 0xAC, 0, 0, 0, 8, 4, 0, 2, 0, 0xF9, 7}, 1001, -1, 2048, 1001},
        {"u-law at half the rate: the frames the converter made", {7, 0, 2, 0, 0x22, 0x56, 0, 0, 0x44, 0xAC, 0, 0, 2, 0, 8, 0, 0, 0},
         1001, -1, 1000, 500},
#ifndef _WIN32 // the stand-in plays a disk that fills up in the middle of the second block
        {"IMA ADPCM cut short by a full disk: the one whole block kept",
         {0x11, 0, 2, 0, 0x44, 0xAC, 0, 0, 0xDB, 0xAC, 0, 0, 0, 8, 4, 0, 2, 0, 0xF9, 7}, 5000, 60 + 2048 + 100, 2048,
         2041},
#endif
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.name);
        remove_file("out/track.wav");
        host_boxes.clear();
        memcpy(cfg_wfx, r.record, sizeof r.record);
        cfg_cvt = 1;
        cfg_mode = 1;
        auto audio = pcm_block(r.frames, 2, 16);
#ifndef _WIN32
        shim_set_write_budget(r.disk_room);
#endif
        ASSERT_EQ(m->open(44100, 2, 16), 0);
        for (size_t at = 0; at < audio.size(); at += 2304) write(audio, at, 2304);
#ifndef _WIN32
        shim_set_write_budget(-1); // room again for the sizes
#endif
        m->close();
        EXPECT_EQ(host_boxes.size(), r.disk_room < 0 ? 0u : 1u);
        bytes file = read_file("out/track.wav");
        size_t fmt_end = 20 + le32_at(file, 16) + (le32_at(file, 16) & 1);
        ASSERT_EQ(std::string(file.begin() + fmt_end, file.begin() + fmt_end + 4), "fact");
        EXPECT_EQ(le32_at(file, fmt_end + 8), r.fact);
        EXPECT_EQ(le32_at(file, fmt_end + 16), r.data_bytes);
        EXPECT_EQ(file.size(), fmt_end + 20 + r.data_bytes);
    }
}

TEST_F(codec_stage_test, flags_are_start_on_the_first_frames_blockalign_with_a_block_and_end_at_the_drain)
{
    use_codec(frame_codec());
    auto audio = pcm_block(100, 2, 16);
    ASSERT_EQ(m->open(44100, 2, 16), 0);
    write(audio, 0, 2);   // half a frame: no frame accepted yet
    write(audio, 2, 2);   // the other half completes one frame in the codec's source
    write(audio, 4, 396); // the first whole frames still start the stream
    write(audio, 0, 400);
    m->flush(5000);       // a seek: the stream starts again, pending source is kept
    write(audio, 0, 400);
    write(audio, 0, 400);
    m->close();
    EXPECT_EQ(flags_seen(), (std::vector<DWORD>{start | blockalign, start | blockalign, start | blockalign,
                                                blockalign, start | blockalign, blockalign, end}));
    EXPECT_EQ(lengths_seen(), (std::vector<DWORD>{2, 4, 396, 400, 400, 400, 0}));

    // A track that never got a whole frame drains with START too.
    remove_file("out/track.wav");
    ASSERT_EQ(m->open(44100, 2, 16), 0);
    size_t before = test_codec_calls().size();
    m->close();
    ASSERT_EQ(test_codec_calls().size(), before + 1);
    EXPECT_EQ(test_codec_calls().back().flags, start | end);
}

// The codec consumes 1000-byte blocks and makes 4 bytes of each: the first source byte, then
// 0x5A three times. What it leaves waits for the next call; the last partial block is padded
// with silence at the drain. The file is a WAV file with the codec's record: fmt size 19, the
// pad byte, the fact chunk counting the track's real frames.
TEST_F(codec_stage_test, leftover_source_is_carried_and_the_last_partial_block_is_padded_at_the_drain)
{
    test_codec_behaviour b;
    b.source_block_bytes = 1000;
    b.block_bytes_out = 4;
    use_codec(b);
    auto audio = pcm_block(1152, 2, 16);
    ASSERT_EQ(m->open(44100, 2, 16), 0);
    write(audio, 0, 2304);
    write(audio, 2304, 2304);
    m->close();
    EXPECT_EQ(lengths_seen(), (std::vector<DWORD>{2304, 304 + 2304, 608, 1000}));
    EXPECT_EQ(flags_seen(), (std::vector<DWORD>{start | blockalign, blockalign, end, end}));

    bytes record = test_codec_format();
    ASSERT_EQ(record.size(), 19u);
    bytes expected = {'R', 'I', 'F', 'F', 72, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 19, 0, 0, 0};
    expected.insert(expected.end(), record.begin(), record.end());
    bytes tail = {
        0,                                          // pad byte after the odd fmt body
        'f', 'a', 'c', 't', 4, 0, 0, 0, 128, 4, 0, 0, // 1152 frames at the codec's rate
        'd', 'a', 't', 'a', 20, 0, 0, 0,            // five blocks of 4 bytes
    };
    expected.insert(expected.end(), tail.begin(), tail.end());
    for (size_t at : {0, 1000, 2000, 3000, 4000}) // the padded block starts with real audio
        expected.insert(expected.end(), {static_cast<uint8_t>(audio[at]), 0x5A, 0x5A, 0x5A});
    EXPECT_EQ(read_file("out/track.wav"), expected);
}

// Each file of a split stream is a stream of its own for the codec: the old one drains with END,
// the new one's first frames come with START, and each file holds what its own frames made.
TEST_F(codec_stage_test, each_file_of_a_split_stream_is_a_stream_of_its_own)
{
    use_codec(frame_codec());
    cfg_split = 1;
    remove_file("out/next.wav");
    auto audio = pcm_block(44100 * 2, 2, 16);
    ASSERT_EQ(m->open(44100, 2, 16), 0);
    for (int at = 0; at < 44100 * 2; at += 4410) {
        if (at == 4410 * 5) host_set_playlist(0, "next");
        write(audio, at * 4, 4410 * 4);
    }
    m->close();
    std::vector<DWORD> flags = flags_seen();
    ASSERT_EQ(flags.size(), 22u); // 20 blocks and two drains
    EXPECT_EQ(flags[0], start | blockalign);
    EXPECT_EQ(flags[10], end);                  // the first file's drain, after one second
    EXPECT_EQ(flags[11], start | blockalign);   // the next file's first block
    EXPECT_EQ(flags[12], blockalign);
    EXPECT_EQ(flags[21], end);
    for (const char *name : {"out/track.wav", "out/next.wav"}) {
        bytes file = read_file(name);
        ASSERT_EQ(file.size(), 60u + 44100u) << name;
        size_t first_frame = name[4] == 't' ? 0 : 44100;
        for (size_t i = 0; i < 44100; i += 997) ASSERT_EQ(file[60 + i], static_cast<uint8_t>(audio[4 * (first_frame + i)]));
    }
    remove_file("out/next.wav");
}

// An MPEG Layer-3 stream starts with an ID3v2.3 tag: the title in ISO-8859-1 where it is plain
// ASCII, else in UCS-2 with a byte-order mark, and the playlist number.
TEST_F(codec_stage_test, an_mp3_stream_starts_with_its_title_and_number)
{
    const char *accented = GetACP() == CP_UTF8 ? "Caf\xC3\xA9" : "Caf\xE9"; // U+00E9 in either code page
    struct row { const char *title; bytes frames; } rows[] = {
        {"Intro", {'T', 'I', 'T', '2', 0, 0, 0, 6, 0, 0, 0, 'I', 'n', 't', 'r', 'o'}},
        {accented, {'T', 'I', 'T', '2', 0, 0, 0, 11, 0, 0, 1, 0xFF, 0xFE, 'C', 0, 'a', 0, 'f', 0, 0xE9, 0}},
    };
    auto audio = pcm_block(300, 2, 16);
    for (const row &r : rows) {
        SCOPED_TRACE(r.title);
        test_codec_behaviour b = frame_codec();
        b.format_tag = 0x55;
        use_codec(b, 0);
        cfg_info = 1;
        host_set_playlist(11, r.title);
        ASSERT_EQ(m->open(44100, 2, 16), 0);
        write(audio);
        m->close();
        std::string name = std::string("out/") + (r.title[0] == 'I' ? "Intro" : r.title) + ".mp3";
        bytes file = read_file(name);
        remove_file(name);
        bytes expected = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, static_cast<uint8_t>(r.frames.size() + 13)};
        expected.insert(expected.end(), r.frames.begin(), r.frames.end());
        expected.insert(expected.end(), {'T', 'R', 'C', 'K', 0, 0, 0, 3, 0, 0, 0, '1', '2'});
        ASSERT_EQ(file.size(), expected.size() + 300);
        EXPECT_EQ(bytes(file.begin(), file.begin() + expected.size()), expected);
        test_codec_remove();
    }
}

TEST_F(codec_stage_test, mode_and_tag_choose_mp3_raw_or_wav)
{
    struct row {
        BYTE mode;
        WORD tag;
        const char *file;
        bool header;
    } rows[] = {
        {0, 0x55, "out/track.mp3", false},   // 0: MPEG Layer-3 in "Auto": the bare stream
        {2, 0x55, "out/track.raw", false},   // 1: "Force raw data"
        {1, 0x55, "out/track.wav", true},    // 2: "Force WAV file"
        {0, 0x1234, "out/track.wav", true},  // 3: any other codec in "Auto"
    };
    auto audio = pcm_block(300, 2, 16);
    for (const row &r : rows) {
        SCOPED_TRACE(r.file);
        test_codec_behaviour b = frame_codec();
        b.format_tag = r.tag;
        use_codec(b, r.mode);
        ASSERT_EQ(m->open(44100, 2, 16), 0);
        write(audio);
        m->close();
        bytes file = read_file(r.file);
        remove_file(r.file);
        ASSERT_GE(file.size(), 300u);
        bytes payload(file.end() - 300, file.end());
        for (size_t i = 0; i < 300; i++) ASSERT_EQ(payload[i], static_cast<uint8_t>(audio[4 * i])) << i;
        EXPECT_EQ(file.size(), r.header ? 60u + 300u : 300u);
        test_codec_remove();
    }
}

// Blocks far beyond the stage's 131072-byte buffers go through whole, in both codec shapes:
// the file is the same as when the host writes small blocks.
TEST_F(codec_stage_test, blocks_larger_than_the_buffers_lose_nothing)
{
    use_codec(frame_codec());
    struct row {
        int rate, channels;
        int frames;
    } rows[] = {{44100, 2, 100000}, {22050, 1, 150000}};
    for (const row &r : rows) {
        SCOPED_TRACE(r.rate);
        auto audio = pcm_block(r.frames, r.channels, 16);
        bytes files[2];
        for (int large = 0; large < 2; large++) {
            remove_file("out/track.wav");
            ASSERT_EQ(m->open(r.rate, r.channels, 16), 0);
            size_t step = large ? audio.size() : 576 * 2 * r.channels;
            for (size_t at = 0; at < audio.size(); at += step) write(audio, at, step);
            EXPECT_EQ(output_state.frames_since_flush, r.frames);
            m->close();
            files[large] = read_file("out/track.wav");
        }
        EXPECT_TRUE(host_boxes.empty());
        EXPECT_EQ(files[0], files[1]);
        EXPECT_GE(files[1].size(), 60u + static_cast<size_t>(r.frames) * 44100 / r.rate);
    }
}

#ifndef _WIN32
// The stand-in plays a heap that runs out; Windows gives no way to make one in a test.
TEST_F(codec_stage_test, a_pcm_block_the_buffer_cannot_grow_for_is_converted_in_pieces)
{
    WAVEFORMATEX pcm = {WAVE_FORMAT_PCM, 2, 48000, 192000, 4, 16, 0};
    memcpy(cfg_wfx, &pcm, sizeof pcm);
    cfg_cvt = 1;
    auto audio = pcm_block(100000, 2, 16);
    bytes files[2];
    for (int limited = 0; limited < 2; limited++) {
        remove_file("out/track.wav");
        ASSERT_EQ(m->open(44100, 2, 16), 0);
        write(audio, 0, 2304); // the buffer is allocated for small blocks, then cannot grow
        if (limited) shim_set_allocation_limit(65536);
        write(audio, 2304);
        shim_set_allocation_limit(0);
        EXPECT_LE(codec_state.output_capacity_bytes, limited ? 65536u : UINT32_MAX);
        m->close();
        files[limited] = read_file("out/track.wav");
    }
    EXPECT_GT(files[0].size(), 400000u);
    EXPECT_EQ(files[0], files[1]);
    EXPECT_TRUE(host_boxes.empty());
}
#endif

TEST_F(codec_stage_test, a_codec_that_stops_consuming_is_told_once_and_never_hangs)
{
    test_codec_behaviour b = frame_codec();
    b.consume_nothing = true;
    use_codec(b);
    auto audio = pcm_block(576, 2, 16);
    ASSERT_EQ(m->open(44100, 2, 16), 0);
    for (int i = 0; i < 200; i++) write(audio); // 460800 bytes: more than the source buffer holds
    EXPECT_EQ(output_state.frames_since_flush, 200 * 576); // the clock runs on
    EXPECT_EQ(codec_state.source_pending_bytes, stage_buffer_bytes);
    m->close();
    ASSERT_EQ(host_boxes.size(), 1u);
    EXPECT_EQ(host_boxes[0].text, "Codec stopped accepting data: \"out\\track.wav\"");
    EXPECT_EQ(le32_at(read_file("out/track.wav"), 56), 0u); // data size: nothing came out
}

TEST_F(codec_stage_test, a_codec_is_never_trusted_beyond_its_buffers)
{
    struct row {
        DWORD over_source, over_destination;
        MMRESULT result;
    } rows[] = {
        {1u << 30, 0, 0},                  // 0: claims to have used more than it was given
        {0, 1u << 30, 0},                  // 1: claims to have written more than the buffer holds
        {0, 0, ACMERR_NOTPOSSIBLE},        // 2: fails, but reports what it did
    };
    auto audio = pcm_block(576, 2, 16);
    for (const row &r : rows) {
        SCOPED_TRACE(testing::Message() << r.over_source << "/" << r.over_destination << "/" << r.result);
        remove_file("out/track.wav");
        test_codec_behaviour b = frame_codec();
        b.overreport_source = r.over_source;
        b.overreport_destination = r.over_destination;
        b.convert_result = r.result;
        use_codec(b);
        ASSERT_EQ(m->open(44100, 2, 16), 0);
        for (int i = 0; i < 3; i++) {
            write(audio);
            EXPECT_LE(codec_state.source_pending_bytes, stage_buffer_bytes);
        }
        uint32_t data = file_state.data_bytes;
        m->close();
        size_t calls = test_codec_calls().size();
        EXPECT_LE(data, calls * stage_buffer_bytes);
        if (r.over_destination == 0) {
            EXPECT_EQ(data, 3u * 576u);
        }
        EXPECT_EQ(read_file("out/track.wav").size(), 60u + file_state.data_bytes + (file_state.data_bytes & 1));
        test_codec_remove();
    }
}

#ifndef _WIN32
// A full disk (the stand-in's); raw output has no header to refuse the track at open.
TEST_F(codec_stage_test, a_full_disk_while_converting_is_reported_once)
{
    fresh_plugin("");
    host_set_playlist(0, "full");
    remove_file("full.raw");
    use_codec(frame_codec(), 2);
    ASSERT_EQ(m->open(44100, 2, 16), 0);
    shim_set_write_budget(0);
    auto audio = pcm_block(576, 2, 16);
    for (int i = 0; i < 5; i++) write(audio);
    EXPECT_EQ(file_state.data_bytes, 0u);
    EXPECT_EQ(output_state.frames_since_flush, 5 * 576);
    m->close();
    shim_set_write_budget(-1);
    ASSERT_EQ(host_boxes.size(), 1u);
    EXPECT_EQ(host_boxes[0].text, "Cannot write to output file: \"full.raw\"");
    remove_file("full.raw");
}
#endif

// Tracks of several formats appended to one file in the file's format: each adds exactly what
// the same track converted into a file of its own holds, and the sizes say so.
TEST_F(codec_stage_test, single_file_tracks_of_other_formats_grow_the_sizes_exactly)
{
    const WAVEFORMATEX file_format = {WAVE_FORMAT_PCM, 1, 22050, 44100, 2, 16, 0};
    struct row {
        int rate, channels, bits, frames;
    } rows[] = {{44100, 2, 16, 3001}, {22050, 1, 16, 1000}, {8000, 1, 8, 777}, {48000, 6, 24, 2000}};
    uint32_t data = 0;
    for (const row &r : rows) {
        SCOPED_TRACE(r.rate);
        auto audio = pcm_block(r.frames, r.channels, r.bits, r.rate);
        // The same track alone, per-track and converted to the file's format.
        fresh_plugin("", question_policy::ok);
        cfg_cvt = 1;
        memcpy(cfg_wfx, &file_format, sizeof file_format);
        host_set_playlist(0, "per");
        ASSERT_EQ(m->open(r.rate, r.channels, r.bits), 0);
        write(audio);
        m->close();
        uint32_t alone = le32_at(read_file("per.wav"), 40);
        remove_file("per.wav");

        cfg_cvt = 0;
        cfg_wav1 = 1;
        strcpy(cfg_wav1p, "single.wav");
        cfg_wfx1 = file_format;
        ASSERT_EQ(m->open(r.rate, r.channels, r.bits), 0);
        write(audio);
        m->close();
        EXPECT_TRUE(host_boxes.empty());
        data += alone;
        bytes file = read_file("single.wav");
        EXPECT_EQ(le32_at(file, 40), data);
        EXPECT_EQ(le32_at(file, 4), 36 + data);
        EXPECT_EQ(file.size(), 44u + data);
    }
}
