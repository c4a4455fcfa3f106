// Test helpers; see test_support.h.
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <mmreg.h>
#include <msacm.h>
#include <stdio.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <direct.h>
#define make_dir(path) _mkdir(path)
#else
#include <unistd.h>
#define make_dir(path) mkdir(path, 0777)
#endif

#include "config/settings_store.h"
#include "output/track_output.h"
#include "tools/wav_reader.h"

out_module *fresh_plugin(const char *dir, question_policy questions)
{
    out_module *module = winampGetOutModule();
    module->close(); // a track an earlier test left open
    DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr); // every setting at its default, as in a new process
    static HWND window;
    static bool caught;
    if (!window) window = host_create_window();
    if (!caught) caught = host_catch_message_boxes(nullptr);
    module->main_window = window;
    host_config.questions = questions;
    host_config.echo_boxes = false;
    host_boxes.clear();
    host_set_playlist(0, "track");
    if (*dir) make_dir(dir);
    snprintf(config_waveoutdir, sizeof config_waveoutdir, "%s", dir);
    return module;
}

void play(out_module *m, int rate, int channels, int bits, const std::vector<char> &data, size_t block)
{
    ASSERT_EQ(m->open(rate, channels, bits), 0);
    for (size_t at = 0; at < data.size(); at += block) {
        std::vector<char> piece(data.begin() + at, data.begin() + std::min(data.size(), at + block));
        EXPECT_EQ(m->write(piece.data(), static_cast<int>(piece.size())), 0);
    }
    m->close();
}

void track_test::SetUp()
{
    m = fresh_plugin("out");
    for (const char *f : {"out/track.wav", "out/track.mp3", "out/track.raw", "out/a.wav", "out/b.wav", "single.wav",
                          "per.wav"})
        remove_file(f);
}

void track_test::write(const std::vector<char> &data, size_t from, size_t count)
{
    count = std::min(count, data.size() - from);
    EXPECT_EQ(m->write(const_cast<char *>(data.data() + from), static_cast<int>(count)), 0);
}

std::vector<uint8_t> read_file(const std::string &path)
{
    std::vector<uint8_t> bytes;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    fclose(f);
    return bytes;
}

void write_file(const std::string &path, const std::vector<uint8_t> &bytes)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) return;
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

bool file_exists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

bool device_link_opens(const char *path)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

void remove_file(const std::string &path) { remove(path.c_str()); }

std::vector<uint8_t> pcm_header(uint16_t channels, uint32_t rate, uint16_t bits, uint32_t data_bytes)
{
    uint16_t align = static_cast<uint16_t>(channels * (bits / 8));
    uint32_t avg = rate * align;
    uint32_t riff = 36 + data_bytes + (data_bytes & 1);
    return std::vector<uint8_t>{
        'R', 'I', 'F', 'F', (uint8_t)riff, (uint8_t)(riff >> 8), (uint8_t)(riff >> 16), (uint8_t)(riff >> 24),
        'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0,       // fmt size 16: PCM without cbSize
        1, 0, (uint8_t)channels, 0,                                // PCM, channels
        (uint8_t)rate, (uint8_t)(rate >> 8), (uint8_t)(rate >> 16), (uint8_t)(rate >> 24),
        (uint8_t)avg, (uint8_t)(avg >> 8), (uint8_t)(avg >> 16), (uint8_t)(avg >> 24),
        (uint8_t)align, 0, (uint8_t)bits, 0,                       // block align, bits
        'd', 'a', 't', 'a', (uint8_t)data_bytes, (uint8_t)(data_bytes >> 8), (uint8_t)(data_bytes >> 16),
        (uint8_t)(data_bytes >> 24)};
}

std::vector<char> pcm_block(int frames, int channels, int bits, int seed)
{
    int width = bits / 8;
    std::vector<char> block(static_cast<size_t>(frames) * channels * width);
    size_t i = 0;
    for (int f = 0; f < frames; f++)
        for (int c = 0; c < channels; c++)
            for (int b = 0; b < width; b++) block[i++] = static_cast<char>((f + seed) * 7 + c * 31 + b * 3 + 1);
    return block;
}

uint32_t le32_at(const std::vector<uint8_t> &bytes, size_t offset)
{
    if (offset + 4 > bytes.size()) return 0xDEADBEEF;
    return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 | (uint32_t)bytes[offset + 3] << 24;
}

bool riff_walk(const std::vector<uint8_t> &bytes, uint32_t *riff_size, std::vector<riff_chunk> *chunks)
{
    chunks->clear();
    if (bytes.size() < 12 || memcmp(bytes.data(), "RIFF", 4) != 0 || memcmp(bytes.data() + 8, "WAVE", 4) != 0)
        return false;
    *riff_size = le32_at(bytes, 4);
    size_t at = 12;
    while (at + 8 <= bytes.size()) {
        riff_chunk chunk{std::string(reinterpret_cast<const char *>(bytes.data() + at), 4), le32_at(bytes, at + 4),
                         at + 8};
        if (chunk.offset + chunk.size > bytes.size()) return false;
        chunks->push_back(chunk);
        at = chunk.offset + chunk.size + (chunk.size & 1);
    }
    return at == bytes.size();
}

std::string acm_tag_name(WORD tag)
{
    ACMFORMATTAGDETAILSA details = {};
    details.cbStruct = sizeof details;
    details.dwFormatTag = tag;
    if (acmFormatTagDetailsA(nullptr, &details, ACM_FORMATTAGDETAILSF_FORMATTAG) != 0) return "?";
    return details.szFormatTag;
}

std::string acm_description(const void *format, DWORD bytes)
{
    ACMFORMATDETAILSA details = {};
    details.cbStruct = sizeof details;
    details.dwFormatTag = static_cast<const WAVEFORMATEX *>(format)->wFormatTag;
    details.pwfx = static_cast<WAVEFORMATEX *>(const_cast<void *>(format));
    details.cbwfx = bytes;
    if (acmFormatDetailsA(nullptr, &details, ACM_FORMATDETAILSF_FORMAT) != 0) return "?";
    return details.szFormat;
}

acm_test_stream::acm_test_stream(DWORD source_bytes, DWORD destination_bytes)
    : source(source_bytes), destination(destination_bytes, 0xCC)
{
}

acm_test_stream::acm_test_stream(WAVEFORMATEX *from, WAVEFORMATEX *to, DWORD source_bytes, DWORD destination_bytes)
    : acm_test_stream(source_bytes, destination_bytes)
{
    open(from, to);
}

void acm_test_stream::open(WAVEFORMATEX *from, WAVEFORMATEX *to)
{
    EXPECT_EQ(acmStreamOpen(&stream, nullptr, from, to, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME), 0u);
    memset(&header, 0, sizeof header);
    header.cbStruct = sizeof header;
    header.pbSrc = source.data();
    header.cbSrcLength = static_cast<DWORD>(source.size());
    header.pbDst = destination.data();
    header.cbDstLength = static_cast<DWORD>(destination.size());
    if (stream) {
        EXPECT_EQ(acmStreamPrepareHeader(stream, &header, 0), 0u);
    }
}

acm_test_stream::~acm_test_stream()
{
    if (!stream) return;
    header.cbSrcLength = static_cast<DWORD>(source.size()); // the lengths it was prepared with
    header.cbDstLength = static_cast<DWORD>(destination.size());
    acmStreamUnprepareHeader(stream, &header, 0);
    acmStreamClose(stream, 0);
}

MMRESULT acm_test_stream::convert(DWORD source_bytes, DWORD flags, DWORD destination_bytes)
{
    header.cbSrcLength = source_bytes;
    header.cbDstLength = destination_bytes ? destination_bytes : static_cast<DWORD>(destination.size());
    header.cbSrcLengthUsed = 12345;
    header.cbDstLengthUsed = 12345;
    return acmStreamConvert(stream, &header, flags);
}

bool read_back_audio(const std::string &path, std::vector<char> *audio)
{
    wav_input wav;
    const char *reason = nullptr;
    audio->clear();
    if (!wav_reader_open(path.c_str(), &wav, &reason)) return false;
    std::vector<char> block(4096 * wav.frame_bytes);
    while (size_t bytes = wav_reader_read(&wav, block.data(), 4096))
        audio->insert(audio->end(), block.begin(), block.begin() + bytes);
    wav_reader_close(&wav);
    return true;
}

std::vector<uint8_t> pcm_header_with_room(uint16_t channels, uint32_t rate, uint16_t bits, uint32_t data_bytes)
{
    std::vector<uint8_t> header = pcm_header(channels, rate, bits, data_bytes);
    uint32_t riff = le32_at(header, 4) + 36;
    std::vector<uint8_t> junk = {'J', 'U', 'N', 'K', 28, 0, 0, 0};
    junk.resize(36);
    header.insert(header.begin() + 12, junk.begin(), junk.end());
    for (int i = 0; i < 4; i++) header[4 + i] = static_cast<uint8_t>(riff >> (8 * i));
    return header;
}

void make_sparse_file(const char *path, const std::vector<uint8_t> &head, uint64_t length)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, head.data(), static_cast<DWORD>(head.size()), &written, nullptr);
    LONG high = static_cast<LONG>(length >> 32);
    SetFilePointer(file, static_cast<LONG>(length), &high, FILE_BEGIN);
    ASSERT_TRUE(SetEndOfFile(file));
    CloseHandle(file);
}

file_ends ends_of(const char *path, size_t count)
{
    file_ends ends;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return ends;
    DWORD high = 0, got = 0;
    ends.length = GetFileSize(file, &high) | uint64_t(high) << 32;
    ends.head.resize(count);
    ReadFile(file, ends.head.data(), static_cast<DWORD>(count), &got, nullptr);
    ends.head.resize(got);
    uint64_t from = ends.length > count ? ends.length - count : 0;
    LONG from_high = static_cast<LONG>(from >> 32);
    SetFilePointer(file, static_cast<LONG>(from), &from_high, FILE_BEGIN);
    ends.tail.resize(count);
    ReadFile(file, ends.tail.data(), static_cast<DWORD>(count), &got, nullptr);
    ends.tail.resize(got);
    CloseHandle(file);
    return ends;
}

uint64_t le64_at(const std::vector<uint8_t> &bytes, size_t offset)
{
    return le32_at(bytes, offset) | static_cast<uint64_t>(le32_at(bytes, offset + 4)) << 32;
}

std::string in_ansi(const std::string &utf8)
{
    std::vector<WCHAR> wide(utf8.size() + 1);
    std::vector<char> text(4 * utf8.size() + 4);
    BOOL lossy = FALSE;
    int units = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
    if (units <= 0 || lossy ||
        WideCharToMultiByte(CP_ACP, 0, wide.data(), units, text.data(), static_cast<int>(text.size()), nullptr,
                            &lossy) <= 0 || lossy)
        return "";
    return text.data();
}
