// The title and playlist number inside a per-track file: a LIST chunk of form INFO behind a WAV
// file's audio, an ID3v2.3 tag in front of a bare MPEG Layer-3 stream. Built here as bytes; the
// track output writes them.
#ifndef TOLLVANE_FILE_TAGS_H
#define TOLLVANE_FILE_TAGS_H

#include <stdint.h>
#include <windows.h>

#include "output/playlist_entry.h"

// ISFT's text, the plug-in's name with its terminator, padded to even.
constexpr uint32_t info_writer_bytes = 14;
// "LIST", its size, "INFO", then INAM (the title with its terminator, padded to even), ITRK (the
// number, at most 20 digits) and ISFT (the plug-in's name), each with its tag and size.
constexpr uint32_t info_chunk_max_bytes = 12 + 8 + (title_max_bytes + 2) + 8 + 22 + 8 + info_writer_bytes;
// The header, TIT2 in UCS-2 with its byte-order mark (a character a unit), TRCK in ISO-8859-1.
constexpr uint32_t id3_tag_max_bytes = 10 + 10 + 3 + 2 * title_max_bytes + 10 + 1 + 20;

// Fills chunk (info_chunk_max_bytes) for entry; returns its bytes, an even number. The title
// goes in as the player gave it, in the ANSI code page; an empty one is left out.
uint32_t build_info_chunk(const playlist_entry *entry, BYTE *chunk);

// Fills tag (id3_tag_max_bytes) for entry; returns its bytes. A title of plain ASCII is written
// in ISO-8859-1, any other in UCS-2 with a byte-order mark; an empty one is left out.
uint32_t build_id3_tag(const playlist_entry *entry, BYTE *tag);

#endif
