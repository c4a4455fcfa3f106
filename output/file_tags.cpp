// Builds the tags of a per-track file from the player's playlist entry; see file_tags.h.
#include "output/file_tags.h"

#include <string.h>

#include "config/plugin_version.h"
#include "output/wav_container.h"

static const char writer_name[] = TOLLVANE_VERSION;
static_assert(sizeof writer_name + (sizeof writer_name & 1) <= info_writer_bytes, "the chunk's buffer holds the name");

// One INFO entry: its tag, the text's size with its terminator, the text, a pad byte to even.
static uint32_t put_info_entry(BYTE *at, const char *tag, const char *text, uint32_t length)
{
    memcpy(at, tag, 4);
    put_u32(at + 4, length + 1);
    memcpy(at + 8, text, length);
    at[8 + length] = 0;
    uint32_t bytes = 8 + length + 1;
    if (bytes & 1) at[bytes++] = 0;
    return bytes;
}

uint32_t build_info_chunk(const playlist_entry *entry, BYTE *chunk)
{
    uint32_t at = 12;
    uint32_t title_length = static_cast<uint32_t>(strlen(entry->title));
    if (title_length) at += put_info_entry(chunk + at, "INAM", entry->title, title_length);
    char number[entry_number_chars];
    uint32_t number_length = static_cast<uint32_t>(entry_number(entry, 1, number));
    at += put_info_entry(chunk + at, "ITRK", number, number_length);
    at += put_info_entry(chunk + at, "ISFT", writer_name, sizeof writer_name - 1);
    memcpy(chunk, "LIST", 4);
    put_u32(chunk + 4, at - 8);
    memcpy(chunk + 8, "INFO", 4);
    return at;
}

static void put_u32_big_endian(BYTE *p, uint32_t v)
{
    p[0] = static_cast<BYTE>(v >> 24);
    p[1] = static_cast<BYTE>(v >> 16);
    p[2] = static_cast<BYTE>(v >> 8);
    p[3] = static_cast<BYTE>(v);
}

// A text frame: its id, its size (plain big-endian in version 2.3), no flags, the encoding byte.
static uint32_t put_frame_header(BYTE *at, const char *id, uint32_t text_bytes, BYTE encoding)
{
    memcpy(at, id, 4);
    put_u32_big_endian(at + 4, text_bytes + 1);
    at[8] = at[9] = 0;
    at[10] = encoding;
    return 11;
}

uint32_t build_id3_tag(const playlist_entry *entry, BYTE *tag)
{
    uint32_t at = 10;
    size_t title_length = strlen(entry->title);
    bool ascii = true;
    for (size_t i = 0; i < title_length; i++)
        if (static_cast<BYTE>(entry->title[i]) >= 0x80) ascii = false;
    if (title_length && ascii) {
        at += put_frame_header(tag + at, "TIT2", static_cast<uint32_t>(title_length), 0); // ISO-8859-1
        memcpy(tag + at, entry->title, title_length);
        at += static_cast<uint32_t>(title_length);
    } else if (title_length) {
        WCHAR wide[title_max_bytes + 1];
        int units = MultiByteToWideChar(CP_ACP, 0, entry->title, static_cast<int>(title_length), wide, title_max_bytes);
        if (units > 0) {
            uint32_t frame = at;
            at += 11;
            tag[at++] = 0xFF; // little-endian units
            tag[at++] = 0xFE;
            for (int i = 0; i < units; i++) {
                put_u16(tag + at, static_cast<uint32_t>(wide[i]));
                at += 2;
            }
            put_frame_header(tag + frame, "TIT2", at - frame - 11, 1); // UCS-2 with a byte-order mark
        }
    }
    char number[entry_number_chars];
    uint32_t number_length = static_cast<uint32_t>(entry_number(entry, 1, number));
    at += put_frame_header(tag + at, "TRCK", number_length, 0);
    memcpy(tag + at, number, number_length);
    at += number_length;
    memcpy(tag, "ID3\x03\x00\x00", 6); // version 2.3.0, no flags
    uint32_t size = at - 10; // in four bytes of seven bits each
    tag[6] = static_cast<BYTE>(size >> 21 & 0x7F);
    tag[7] = static_cast<BYTE>(size >> 14 & 0x7F);
    tag[8] = static_cast<BYTE>(size >> 7 & 0x7F);
    tag[9] = static_cast<BYTE>(size & 0x7F);
    return at;
}
