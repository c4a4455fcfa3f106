// Text in the ANSI code page, as the player hands it over and Windows names files in it:
// where a cut keeps whole characters (double-byte ones, or UTF-8 ones where that is the code
// page), what the text takes in UTF-8, its code points where it is UTF-8, and numbers written as
// text. Used by the naming, the player's entry and the cue sheet's text; keeps no state.
#ifndef TOLLVANE_ANSI_TEXT_H
#define TOLLVANE_ANSI_TEXT_H

#include <stddef.h>
#include <windows.h>

// The bytes of text (length bytes) that a cut at most room bytes long keeps whole: a double-byte
// character of the ANSI code page is never cut in two, and where that code page is UTF-8,
// neither is a UTF-8 character.
size_t whole_characters(const char *text, size_t length, size_t room);
// Where the last whole character of text (length bytes) starts.
size_t last_character_start(const char *text, size_t length);

// The longest text this module measures: a title read from the player.
constexpr size_t ansi_text_max_bytes = 1024;
// The bytes of the UTF-8 form of text (length bytes, at most ansi_text_max_bytes). In the UTF-8
// code page these are its bytes, but for each byte that starts no valid sequence: it becomes
// U+FFFD, three.
size_t utf8_bytes(const char *text, size_t length);
// The code point of the UTF-8 text at text[*at] (of length bytes), moving *at past it; -1 for a
// malformed sequence (overlong, a surrogate, past U+10FFFF, cut short), *at then past its longest
// well-formed start (at least one byte), which stands for one U+FFFD as Unicode advises and
// Windows converts.
long utf8_code_point(const unsigned char *text, size_t length, size_t *at);
// The bytes of text that a cut keeps whole where its UTF-8 form may take at most room bytes.
size_t utf8_whole_characters_within(const char *text, size_t length, size_t room);

// value in decimal with at least min_digits digits, into text (decimal_text_chars with its
// terminator); returns its length.
constexpr unsigned decimal_text_chars = 24;
size_t decimal_text(char *text, unsigned long long value, unsigned min_digits);

#endif
