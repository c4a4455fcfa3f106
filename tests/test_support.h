// Helpers shared by the test programs: a plug-in attached and wired to a recording host,
// files read back whole, PCM blocks made to order, and a small independent RIFF reader.
#ifndef TOLLVANE_TEST_SUPPORT_H
#define TOLLVANE_TEST_SUPPORT_H

#include <windows.h>
#include <mmreg.h>
#include <msacm.h>

#include <gtest/gtest.h>

#include <stdint.h>
#include <string>
#include <vector>

#include "host/out_module.h"
#include "tools/host_support.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID);

// Attaches the plug-in afresh (defaults, nothing open), routes its boxes to the recorder with
// the given answer to questions, sets the playlist title and writes per-track files into dir
// (relative to the working directory, created if missing; "" for the working directory).
out_module *fresh_plugin(const char *dir = "", question_policy questions = question_policy::cancel);

// Opens a track, hands data to write in blocks of block bytes (the last one what is left) and
// closes the track.
void play(out_module *m, int rate, int channels, int bits, const std::vector<char> &data, size_t block = 2304);

// The fixture of the programs that play tracks through the entry points: a plug-in attached
// afresh, writing per-track files into out/, with every file a case of theirs may leave behind
// removed first (each program has a working folder of its own).
class track_test : public ::testing::Test {
protected:
    out_module *m = nullptr;
    void SetUp() override;
    // Hands data[from, from + count) to write as one block; count stops at the end of data.
    void write(const std::vector<char> &data, size_t from = 0, size_t count = SIZE_MAX);
};

std::vector<uint8_t> read_file(const std::string &path);
void write_file(const std::string &path, const std::vector<uint8_t> &bytes);
bool file_exists(const std::string &path);
// The platform's own CreateFileA opens path for reading: how a test sees that a link to a
// device (/dev/full, /dev/null) made before the run is there, in both builds.
bool device_link_opens(const char *path);
void remove_file(const std::string &path);

// The 44-byte header the plug-in writes for PCM, with its sizes patched for data_bytes.
std::vector<uint8_t> pcm_header(uint16_t channels, uint32_t rate, uint16_t bits, uint32_t data_bytes);

// The same with the room for RF64's sizes: a JUNK chunk of 28 zero bytes after "WAVE".
std::vector<uint8_t> pcm_header_with_room(uint16_t channels, uint32_t rate, uint16_t bits, uint32_t data_bytes);

// A file of length bytes whose first bytes are head, the rest a hole: files past 4 GiB that take
// no disk.
void make_sparse_file(const char *path, const std::vector<uint8_t> &head, uint64_t length);
// The first and the last count bytes of a file (which may be larger than memory), and its length.
struct file_ends {
    std::vector<uint8_t> head, tail;
    uint64_t length = 0;
};
file_ends ends_of(const char *path, size_t count);
uint64_t le64_at(const std::vector<uint8_t> &bytes, size_t offset);

// frames of interleaved PCM whose samples differ by frame and channel.
std::vector<char> pcm_block(int frames, int channels, int bits, int seed = 0);

struct riff_chunk {
    std::string id;
    uint32_t size;
    size_t offset; // of the chunk body
};

// Walks a RIFF WAVE image: the RIFF size and the chunk list. Returns false for a broken walk.
bool riff_walk(const std::vector<uint8_t> &bytes, uint32_t *riff_size, std::vector<riff_chunk> *chunks);

uint32_t le32_at(const std::vector<uint8_t> &bytes, size_t offset);

// Text given in UTF-8, in the ANSI code page, as the player hands titles over; "" where that code
// page cannot spell it.
std::string in_ansi(const std::string &utf8);

// The audio that tollvane-play's own WAV reader hands out for path, in whole frames, whatever
// the header's sizes say; false when it refuses the file.
bool read_back_audio(const std::string &path, std::vector<char> *audio);

// What the ACM itself says of a format record (bytes long): its tag's name and its description,
// "?" where the ACM has none.
std::string acm_tag_name(WORD tag);
std::string acm_description(const void *format, DWORD bytes);

// One ACM stream with one header prepared over buffers of its own: the source zeroed, the
// destination 0xCC so that unwritten bytes show. Unprepared and closed on destruction.
struct acm_test_stream {
    HACMSTREAM stream = nullptr;
    ACMSTREAMHEADER header = {};
    std::vector<uint8_t> source, destination;

    acm_test_stream(DWORD source_bytes, DWORD destination_bytes);
    acm_test_stream(WAVEFORMATEX *from, WAVEFORMATEX *to, DWORD source_bytes, DWORD destination_bytes);
    acm_test_stream(const acm_test_stream &) = delete;
    acm_test_stream &operator=(const acm_test_stream &) = delete;
    ~acm_test_stream();
    // Opens the stream and prepares the header over the whole buffers.
    void open(WAVEFORMATEX *from, WAVEFORMATEX *to);
    // Converts the first source_bytes into at most destination_bytes (0: the whole buffer),
    // with the used counts preset to a sentinel so that untouched ones show.
    MMRESULT convert(DWORD source_bytes, DWORD flags, DWORD destination_bytes = 0);
};

#endif
