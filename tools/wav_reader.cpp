// A small RIFF reader: walks the chunks, takes the first fmt and data chunks, and reads the
// payload in whole frames. RF64 files (past 4 GiB) give the data size in their ds64 chunk.
// Files that streaming writers left with a data size of zero or 0xFFFFFFFF (in ds64: 2^48 or
// more, the plug-in's claim while it writes) are read to their real end, and so are files cut
// short of the size they claim; those say how much is missing.
#define _FILE_OFFSET_BITS 64 // 32-bit Linux hosts: off_t as wide as Windows' offsets

#include "tools/wav_reader.h"

#include <stdlib.h>
#include <string.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/types.h>
#endif

// Paths are UTF-8. On Windows the file opens by its wide name, so that a name the ANSI code
// page cannot spell opens too.
static FILE *open_for_reading(const char *path)
{
#ifdef _WIN32
    int length = MultiByteToWideChar(CP_UTF8, 0, path, -1, nullptr, 0);
    if (length <= 0) return nullptr;
    wchar_t *wide = static_cast<wchar_t *>(malloc(sizeof(wchar_t) * length));
    if (!wide) return nullptr;
    MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, length);
    FILE *file = _wfopen(wide, L"rb");
    free(wide);
    return file;
#else
    return fopen(path, "rb");
#endif
}

// Offsets of 64 bits in both builds: a long, which ftell and fseek take, has 32 on Windows
// and would misread files of 2 GiB and more.
static int seek_to(FILE *file, long long offset, int origin)
{
#ifdef _WIN32
    return _fseeki64(file, offset, origin);
#else
    return fseeko(file, static_cast<off_t>(offset), origin);
#endif
}

static long long position_of(FILE *file)
{
#ifdef _WIN32
    return _ftelli64(file);
#else
    return static_cast<long long>(ftello(file));
#endif
}

static uint32_t le32(const unsigned char *p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }
static uint64_t le64(const unsigned char *p) { return le32(p) | static_cast<uint64_t>(le32(p + 4)) << 32; }
static uint16_t le16(const unsigned char *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// The file is read in pieces of this size, whatever the frames each wav_reader_read asks for.
// From 64 KiB to 1 MiB the program runs equally fast; above 128 KiB, AddressSanitizer maps and
// unmaps the buffer for every file, and the fuzzer ran ten times slower.
constexpr size_t read_piece_bytes = 128 * 1024;

static const unsigned char pcm_subformat_tail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                     0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

static bool fail(wav_input *wav, const char **reason, const char *text)
{
    wav_reader_close(wav);
    *reason = text;
    return false;
}

bool wav_reader_open(const char *path, wav_input *wav, const char **reason)
{
    memset(wav, 0, sizeof *wav);
    wav->file = open_for_reading(path);
    if (!wav->file) return fail(wav, reason, "cannot open the file");
    // The player's 576-frame blocks would otherwise cost a read of the file's page size each.
    // The buffer is our own: glibc ignores the size when setvbuf is to allocate it.
    wav->read_buffer = static_cast<char *>(malloc(read_piece_bytes));
    if (!wav->read_buffer || setvbuf(wav->file, wav->read_buffer, _IOFBF, read_piece_bytes) != 0)
        return fail(wav, reason, "out of memory");
    unsigned char header[12];
    if (fread(header, 1, 12, wav->file) != 12 || (memcmp(header, "RIFF", 4) != 0 && memcmp(header, "RF64", 4) != 0) ||
        memcmp(header + 8, "WAVE", 4) != 0)
        return fail(wav, reason, "not a RIFF WAVE file");
    bool rf64 = memcmp(header, "RF64", 4) == 0;
    uint64_t ds64_data_bytes = 0;
    bool have_ds64 = false;
    if (seek_to(wav->file, 0, SEEK_END) != 0) return fail(wav, reason, "cannot seek in the file");
    long long file_length = position_of(wav->file);
    if (file_length < 12 || seek_to(wav->file, 12, SEEK_SET) != 0) return fail(wav, reason, "cannot seek in the file");

    bool have_format = false;
    long long position = 12;
    for (;;) {
        unsigned char chunk[8];
        if (fread(chunk, 1, 8, wav->file) != 8)
            return fail(wav, reason, have_format ? "no data chunk" : "no fmt chunk");
        uint32_t size = le32(chunk + 4);
        position += 8;
        if (memcmp(chunk, "fmt ", 4) == 0 && !have_format) { // a later one is skipped
            unsigned char fmt[40] = {};
            if (size < 16) return fail(wav, reason, "fmt chunk too short");
            size_t want = size < sizeof fmt ? size : sizeof fmt;
            if (fread(fmt, 1, want, wav->file) != want) return fail(wav, reason, "file ends inside the fmt chunk");
            uint16_t tag = le16(fmt);
            wav->channels = le16(fmt + 2);
            wav->rate = static_cast<int>(le32(fmt + 4));
            wav->bits = le16(fmt + 14);
            if (tag == 0xFFFE) {
                if (size < 40) return fail(wav, reason, "extensible fmt chunk too short");
                if (le16(fmt + 24) != 1 || memcmp(fmt + 26, pcm_subformat_tail, sizeof pcm_subformat_tail) != 0)
                    return fail(wav, reason, "not PCM data (extensible sub-format)");
            } else if (tag != 1) {
                return fail(wav, reason, "not PCM data (compressed or floating-point format)");
            }
            if (wav->bits != 8 && wav->bits != 16 && wav->bits != 24 && wav->bits != 32)
                return fail(wav, reason, "unsupported sample width (8, 16, 24 or 32 bits)");
            if (wav->channels < 1) return fail(wav, reason, "no channels");
            if (wav->rate < 1) return fail(wav, reason, "no sample rate");
            wav->frame_bytes = static_cast<uint32_t>(wav->channels) * static_cast<uint32_t>(wav->bits / 8);
            have_format = true;
        } else if (rf64 && memcmp(chunk, "ds64", 4) == 0 && !have_ds64) {
            unsigned char ds64[16];
            if (size < 28 || fread(ds64, 1, sizeof ds64, wav->file) != sizeof ds64)
                return fail(wav, reason, "ds64 chunk too short");
            ds64_data_bytes = le64(ds64 + 8);
            have_ds64 = true;
        } else if (memcmp(chunk, "data", 4) == 0) {
            if (!have_format) return fail(wav, reason, "data chunk before the fmt chunk");
            if (rf64 && !have_ds64) return fail(wav, reason, "RF64 file without a ds64 chunk");
            uint64_t available = static_cast<uint64_t>(file_length - position);
            uint64_t claimed = rf64 && size == 0xFFFFFFFFu ? ds64_data_bytes : size;
            // Else the writer could not go back.
            bool size_given = claimed != 0 && claimed != 0xFFFFFFFFu && claimed < (1ull << 48);
            wav->data_bytes = !size_given || claimed > available ? available : claimed;
            wav->missing_bytes = size_given && claimed > available ? claimed - available : 0;
            wav->remaining_bytes = wav->data_bytes;
            if (seek_to(wav->file, position, SEEK_SET) != 0) return fail(wav, reason, "cannot seek in the file");
            return true;
        }
        // Chunks are padded to even lengths; the sum in 64 bits, or a size of 0xFFFFFFFF would
        // wrap to 0 and the chunk's own bytes would be read as the next chunk.
        position += static_cast<long long>(size) + (size & 1);
        if (position > file_length || seek_to(wav->file, position, SEEK_SET) != 0)
            return fail(wav, reason, have_format ? "no data chunk" : "no fmt chunk");
    }
}

size_t wav_reader_read(wav_input *wav, void *buffer, size_t frames)
{
    uint64_t want = static_cast<uint64_t>(frames) * wav->frame_bytes;
    if (want > wav->remaining_bytes) want = wav->remaining_bytes / wav->frame_bytes * wav->frame_bytes;
    size_t got = fread(buffer, 1, static_cast<size_t>(want), wav->file);
    got -= got % wav->frame_bytes;
    wav->remaining_bytes = got < want ? 0 : wav->remaining_bytes - got;
    return got;
}

void wav_reader_close(wav_input *wav)
{
    if (wav->file) fclose(wav->file);
    wav->file = nullptr;
    free(wav->read_buffer); // only once the file that reads into it is closed
    wav->read_buffer = nullptr;
}
