// The test codec through the plain ACM calls, in both builds: natively in the stand-in's
// registry, under Wine as a function driver. The codec-stage tests rely on it answering alike
// in both, so this pins what they rely on: which streams open, what it suggests and describes,
// what it records and writes per conversion, and each misbehaviour.
#include <gtest/gtest.h>

#include <string.h>
#include <string>

#include "tests/test_codec.h"
#include "tests/test_support.h"

using bytes = std::vector<uint8_t>;

static WAVEFORMATEX pcm_format(WORD channels, DWORD rate, WORD bits)
{
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = channels;
    format.nSamplesPerSec = rate;
    format.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    format.nAvgBytesPerSec = rate * format.nBlockAlign;
    format.wBitsPerSample = bits;
    return format;
}

static bytes bytes_of(const void *data, size_t size)
{
    const uint8_t *p = static_cast<const uint8_t *>(data);
    return bytes(p, p + size);
}

static WAVEFORMATEX *as_format(bytes &record) { return reinterpret_cast<WAVEFORMATEX *>(record.data()); }

// One stream from the codec's PCM format to its record, with a prepared header over buffers
// of 8192 bytes: the source counts up, the destination starts as 0xCC.
struct codec_stream : acm_test_stream {
    codec_stream() : acm_test_stream(8192, 8192)
    {
        for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint8_t>(i * 7 + 1);
        WAVEFORMATEX pcm = test_codec_pcm_format();
        bytes record = test_codec_format();
        open(&pcm, as_format(record));
    }
};

// The codec's output for the blocks that start at the given source offsets.
static bytes blocks_out(const codec_stream &s, std::initializer_list<size_t> starts, size_t block_bytes_out)
{
    bytes out;
    for (size_t at : starts) {
        out.push_back(s.source[at]);
        out.insert(out.end(), block_bytes_out - 1, 0x5A);
    }
    return out;
}

class test_codec_test : public ::testing::Test {
protected:
    void TearDown() override { test_codec_remove(); }
};

TEST_F(test_codec_test, opens_only_from_its_own_pcm_format_to_its_record)
{
    test_codec_install(test_codec_behaviour());
    bytes record = test_codec_format();
    const uint8_t expected[] = {
        0x55, 0x00, 2, 0,             // MPEG Layer-3 tag, 2 channels
        0x44, 0xAC, 0x00, 0x00,       // 44100 Hz
        0x10, 0xB1, 0x02, 0x00,       // 176400 bytes per second: 4 bytes per frame of everything
        4, 0, 0, 0,                   // block align 4, 0 bits
        1, 0, 0xA5};                  // cbSize 1, its extra byte
    EXPECT_EQ(record, bytes_of(expected, sizeof expected));

    struct {
        WAVEFORMATEX source;
        MMRESULT result;
    } rows[] = {
        {pcm_format(2, 44100, 16), MMSYSERR_NOERROR}, // #0 its own
        {pcm_format(2, 48000, 16), ACMERR_NOTPOSSIBLE}, // #1 another rate
        {pcm_format(1, 44100, 16), ACMERR_NOTPOSSIBLE}, // #2 another channel count
        {pcm_format(2, 44100, 8), ACMERR_NOTPOSSIBLE},  // #3 another width
    };
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        HACMSTREAM stream = nullptr;
        EXPECT_EQ(acmStreamOpen(&stream, NULL, &rows[i].source, as_format(record), NULL, 0, 0,
                                ACM_STREAMOPENF_NONREALTIME),
                  rows[i].result)
            << "#" << i;
        EXPECT_EQ(test_codec_streams_open(), rows[i].result == MMSYSERR_NOERROR ? 1 : 0) << "#" << i;
        if (stream) {
            EXPECT_EQ(acmStreamClose(stream, 0), MMSYSERR_NOERROR) << "#" << i;
        }
        EXPECT_EQ(test_codec_streams_open(), 0) << "#" << i;
    }
    ASSERT_EQ(test_codec_opened_sources().size(), 1u);
    WAVEFORMATEX own = pcm_format(2, 44100, 16);
    EXPECT_EQ(bytes_of(&test_codec_opened_sources()[0], 16), bytes_of(&own, 16));

    // Another behaviour replaces the first: the ACM sees its new tag and format at once.
    test_codec_behaviour mono;
    mono.format_tag = 0x2222;
    mono.extra_bytes = 0;
    mono.pcm_channels = 1;
    mono.pcm_rate = 22050;
    test_codec_install(mono);
    bytes mono_record = test_codec_format();
    WAVEFORMATEX mono_pcm = pcm_format(1, 22050, 16), stereo_pcm = pcm_format(2, 44100, 16);
    HACMSTREAM stream = nullptr;
    EXPECT_EQ(acmStreamOpen(&stream, NULL, &stereo_pcm, as_format(mono_record), NULL, 0, 0, 0), ACMERR_NOTPOSSIBLE);
    EXPECT_EQ(acmStreamOpen(&stream, NULL, &mono_pcm, as_format(record), NULL, 0, 0, 0), ACMERR_NOTPOSSIBLE);
    ASSERT_EQ(acmStreamOpen(&stream, NULL, &mono_pcm, as_format(mono_record), NULL, 0, 0, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(acmStreamClose(stream, 0), MMSYSERR_NOERROR);

    // Removed, nothing encodes its tag any more.
    test_codec_remove();
    EXPECT_EQ(acmStreamOpen(&stream, NULL, &mono_pcm, as_format(mono_record), NULL, 0, 0, 0), ACMERR_NOTPOSSIBLE);
}

TEST_F(test_codec_test, suggests_its_pcm_format_and_its_record_and_leaves_other_codecs_theirs)
{
    test_codec_install(test_codec_behaviour());
    bytes record = test_codec_format();

    bytes pcm(18, 0xCC);
    as_format(pcm)->wFormatTag = WAVE_FORMAT_PCM;
    ASSERT_EQ(acmFormatSuggest(NULL, as_format(record), as_format(pcm), 18, ACM_FORMATSUGGESTF_WFORMATTAG),
              MMSYSERR_NOERROR);
    const uint8_t expected_pcm[] = {
        1, 0, 2, 0,                   // PCM, 2 channels
        0x44, 0xAC, 0x00, 0x00,       // 44100 Hz
        0x10, 0xB1, 0x02, 0x00,       // 176400 bytes per second
        4, 0, 16, 0, 0, 0};           // block align 4, 16 bits, cbSize 0
    EXPECT_EQ(pcm, bytes_of(expected_pcm, sizeof expected_pcm));

    bytes suggested(64, 0xCC);
    as_format(suggested)->wFormatTag = 0x55;
    WAVEFORMATEX own = test_codec_pcm_format();
    ASSERT_EQ(acmFormatSuggest(NULL, &own, as_format(suggested), 64, ACM_FORMATSUGGESTF_WFORMATTAG), MMSYSERR_NOERROR);
    bytes expected_record = record;
    expected_record.resize(64, 0xCC);
    EXPECT_EQ(suggested, expected_record);

    // A system codec still suggests its PCM format into an 18-byte record with this one first.
    WAVEFORMATEX ulaw = {7, 2, 44100, 88200, 2, 8, 0}; // G.711 u-law
    bytes ulaw_pcm(18, 0xCC);
    as_format(ulaw_pcm)->wFormatTag = WAVE_FORMAT_PCM;
    ASSERT_EQ(acmFormatSuggest(NULL, &ulaw, as_format(ulaw_pcm), 18, ACM_FORMATSUGGESTF_WFORMATTAG), MMSYSERR_NOERROR);
    EXPECT_EQ(bytes_of(ulaw_pcm.data(), 16), bytes_of(expected_pcm, 16));
}

TEST_F(test_codec_test, describes_its_tag_and_records)
{
    test_codec_behaviour behaviour;
    behaviour.extra_bytes = 5;
    test_codec_install(behaviour);
    bytes record = test_codec_format();

    ACMFORMATTAGDETAILSA tag = {};
    tag.cbStruct = sizeof tag;
    tag.dwFormatTag = 0x55;
    ASSERT_EQ(acmFormatTagDetailsA(NULL, &tag, ACM_FORMATTAGDETAILSF_FORMATTAG), MMSYSERR_NOERROR);
    EXPECT_EQ(tag.cbFormatSize, 23u);
    EXPECT_STREQ(tag.szFormatTag, "Tollvane test codec");

    ACMFORMATDETAILSA details = {};
    details.cbStruct = sizeof details;
    details.dwFormatTag = 0x55;
    details.pwfx = as_format(record);
    details.cbwfx = static_cast<DWORD>(record.size());
    ASSERT_EQ(acmFormatDetailsA(NULL, &details, ACM_FORMATDETAILSF_FORMAT), MMSYSERR_NOERROR);
    EXPECT_STREQ(details.szFormat, "44100 Hz; 4 bytes per block; Stereo");
}

TEST_F(test_codec_test, records_flags_and_lengths_and_writes_one_block_per_call)
{
    test_codec_install(test_codec_behaviour());
    codec_stream s;
    ASSERT_NE(s.stream, nullptr);

    ASSERT_EQ(s.convert(1000, ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_BLOCKALIGN, 8192), MMSYSERR_NOERROR);
    EXPECT_EQ(s.header.cbSrcLengthUsed, 1000u);
    EXPECT_EQ(s.header.cbDstLengthUsed, 4u);
    bytes expected = blocks_out(s, {0}, 4);
    expected.resize(8192, 0xCC);
    EXPECT_EQ(s.destination, expected);

    ASSERT_EQ(s.convert(0, ACM_STREAMCONVERTF_END, 8192), MMSYSERR_NOERROR);
    EXPECT_EQ(s.header.cbSrcLengthUsed, 0u);
    EXPECT_EQ(s.header.cbDstLengthUsed, 0u);
    ASSERT_EQ(s.convert(5, 0, 3), MMSYSERR_NOERROR); // its one block does not fit
    EXPECT_EQ(s.header.cbSrcLengthUsed, 0u);

    const test_codec_call expected_calls[] = {
        {0x14, 1000, 1000, 8192, 4}, // START | BLOCKALIGN
        {0x20, 0, 0, 8192, 0},       // END
        {0, 5, 0, 3, 0},
    };
    ASSERT_EQ(test_codec_calls().size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        const test_codec_call &c = test_codec_calls()[i];
        EXPECT_EQ(bytes_of(&c, sizeof c), bytes_of(&expected_calls[i], sizeof c)) << "#" << i;
    }
}

TEST_F(test_codec_test, consumes_whole_blocks_only_and_sizes_by_blocks)
{
    test_codec_behaviour behaviour;
    behaviour.source_block_bytes = 1000;
    behaviour.block_bytes_out = 10;
    test_codec_install(behaviour);
    codec_stream s;
    ASSERT_NE(s.stream, nullptr);

    struct {
        DWORD source_bytes, destination_bytes, flags, used, written;
    } rows[] = {
        {2500, 8192, ACM_STREAMCONVERTF_BLOCKALIGN, 2000, 20}, // #0 the half block stays
        {999, 8192, ACM_STREAMCONVERTF_END, 0, 0},             // #1 not even at the end
        {2500, 15, 0, 1000, 10},                               // #2 room for one block
        {3000, 30, ACM_STREAMCONVERTF_START, 3000, 30},        // #3 exactly fitting
    };
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        std::fill(s.destination.begin(), s.destination.end(), 0xCC);
        ASSERT_EQ(s.convert(rows[i].source_bytes, rows[i].flags, rows[i].destination_bytes), MMSYSERR_NOERROR);
        EXPECT_EQ(s.header.cbSrcLengthUsed, rows[i].used) << "#" << i;
        EXPECT_EQ(s.header.cbDstLengthUsed, rows[i].written) << "#" << i;
        EXPECT_EQ(test_codec_calls().back().flags, rows[i].flags) << "#" << i;
    }
    bytes expected = blocks_out(s, {0, 1000, 2000}, 10);
    expected.resize(8192, 0xCC);
    EXPECT_EQ(s.destination, expected);

    DWORD size = 12345;
    EXPECT_EQ(acmStreamSize(s.stream, 2500, &size, ACM_STREAMSIZEF_SOURCE), MMSYSERR_NOERROR);
    EXPECT_EQ(size, 30u); // every block begun
    EXPECT_EQ(acmStreamSize(s.stream, 25, &size, ACM_STREAMSIZEF_DESTINATION), MMSYSERR_NOERROR);
    EXPECT_EQ(size, 2000u); // whole blocks only
    EXPECT_EQ(acmStreamSize(s.stream, 10, &size, ACM_STREAMSIZEF_DESTINATION), MMSYSERR_NOERROR);
    EXPECT_EQ(size, 1000u); // one target block's source
    EXPECT_EQ(acmStreamSize(s.stream, 9, &size, ACM_STREAMSIZEF_DESTINATION), ACMERR_NOTPOSSIBLE);
}

TEST_F(test_codec_test, misbehaves_as_configured)
{
    struct {
        bool consume_nothing;
        MMRESULT convert_result;
        DWORD overreport_source, overreport_destination;
        DWORD used, written; // as the header reports them after converting 1000 bytes
    } rows[] = {
        {true, MMSYSERR_NOERROR, 0, 0, 0, 0},             // #0 takes nothing, writes nothing
        {false, MMSYSERR_ERROR, 0, 0, 1000, 4},           // #1 fails after doing its work
        {false, MMSYSERR_NOERROR, 200000, 0, 201000, 4},  // #2 claims more source than offered
        {false, MMSYSERR_NOERROR, 0, 200000, 1000, 200004}, // #3 claims more output than room
        {true, ACMERR_NOTPOSSIBLE, 1, 1, 1, 1},           // #4 all at once
    };
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        test_codec_behaviour behaviour;
        behaviour.consume_nothing = rows[i].consume_nothing;
        behaviour.convert_result = rows[i].convert_result;
        behaviour.overreport_source = rows[i].overreport_source;
        behaviour.overreport_destination = rows[i].overreport_destination;
        test_codec_install(behaviour);
        codec_stream s;
        ASSERT_NE(s.stream, nullptr) << "#" << i;
        EXPECT_EQ(s.convert(1000, ACM_STREAMCONVERTF_BLOCKALIGN, 8192), rows[i].convert_result) << "#" << i;
        EXPECT_EQ(s.header.cbSrcLengthUsed, rows[i].used) << "#" << i;
        EXPECT_EQ(s.header.cbDstLengthUsed, rows[i].written) << "#" << i;
        ASSERT_EQ(test_codec_calls().size(), 1u) << "#" << i;
        EXPECT_EQ(test_codec_calls()[0].used_bytes, rows[i].consume_nothing ? 0u : 1000u) << "#" << i;
        EXPECT_EQ(s.destination[rows[i].consume_nothing ? 0 : 4], 0xCC) << "#" << i; // nothing beyond its work
    }
}

#ifdef _WIN32
// Listed first, the driver must not take PCM over from the system's drivers: the format chooser
// would otherwise offer only the PCM formats it lists.
static std::string pcm_tag_view(void)
{
    std::string view;
    for (DWORD flags : {ACM_FORMATTAGDETAILSF_FORMATTAG, ACM_FORMATTAGDETAILSF_LARGESTSIZE}) {
        ACMFORMATTAGDETAILSA tag = {};
        tag.cbStruct = sizeof tag;
        tag.dwFormatTag = WAVE_FORMAT_PCM;
        MMRESULT result = acmFormatTagDetailsA(NULL, &tag, flags);
        view += std::to_string(result) + " " + tag.szFormatTag + " size " + std::to_string(tag.cbFormatSize) +
                " formats " + std::to_string(tag.cStandardFormats) + "; ";
    }
    return view;
}

// The format chooser's lists, read by a second thread that then cancels it: the number of tags
// and the number of formats it offers for PCM.
struct chooser_counts {
    LRESULT tags = -1, pcm_formats = -1;
};

static DWORD WINAPI read_chooser(LPVOID parameter)
{
    chooser_counts *counts = static_cast<chooser_counts *>(parameter);
    HWND dialog = NULL;
    // A dialog turns visible once its initialisation, which fills the lists, is over.
    for (int i = 0; i < 500 && !(dialog && IsWindowVisible(dialog)); ++i) {
        Sleep(10);
        dialog = FindWindowA("#32770", "Sound Selection");
    }
    if (!dialog) return 1;
    HWND tags = GetDlgItem(dialog, 101), formats = GetDlgItem(dialog, 102);
    counts->tags = SendMessageA(tags, CB_GETCOUNT, 0, 0);
    LRESULT pcm = SendMessageA(tags, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>("PCM"));
    if (pcm >= 0) {
        SendMessageA(tags, CB_SETCURSEL, pcm, 0);
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(101, CBN_SELCHANGE), reinterpret_cast<LPARAM>(tags));
        counts->pcm_formats = SendMessageA(formats, CB_GETCOUNT, 0, 0);
    }
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    return 0;
}

static chooser_counts chooser_view(void)
{
    chooser_counts counts;
    bytes format(2066, 0);
    ACMFORMATCHOOSEA choose = {};
    choose.cbStruct = sizeof choose;
    choose.pwfx = as_format(format);
    choose.cbwfx = static_cast<DWORD>(format.size());
    HANDLE reader = CreateThread(NULL, 0, read_chooser, &counts, 0, NULL);
    EXPECT_EQ(acmFormatChooseA(&choose), ACMERR_CANCELED);
    WaitForSingleObject(reader, 10000);
    CloseHandle(reader);
    return counts;
}

TEST_F(test_codec_test, leaves_the_system_pcm_formats_alone)
{
    std::string without = pcm_tag_view();
    chooser_counts chooser_without = chooser_view();
    test_codec_install(test_codec_behaviour());
    EXPECT_EQ(pcm_tag_view(), without);
    chooser_counts chooser_with = chooser_view();
    EXPECT_GT(chooser_without.pcm_formats, 1);
    EXPECT_EQ(chooser_with.pcm_formats, chooser_without.pcm_formats);
    EXPECT_EQ(chooser_with.tags, chooser_without.tags + 1); // its own tag joins the list
}
#endif
