// Builds and reads the cue sheet's text; see cue_sheet.h. Relies on cue_text for the titles and
// the file's name; keeps no state. The sheet's file is read and written by its caller.
#include "output/cue_sheet.h"

#include <string.h>

#include "output/ansi_text.h"
#include "output/cue_text.h"

static const char utf8_bom[] = "\xEF\xBB\xBF";
constexpr size_t bom_bytes = 3;
constexpr size_t text_max_bytes = cue_sheet_max_bytes - bom_bytes;
constexpr uint64_t start_75ths_max = ~static_cast<uint64_t>(0);

uint64_t cue_start_75ths(uint64_t frames, uint32_t rate)
{
    if (rate == 0) return 0;
    // Whole seconds first, so that frames * 75 cannot overflow; only a rate below 75 can make
    // more 75ths than 64 bits hold, and those stop at the most they hold.
    uint64_t seconds = frames / rate;
    if (seconds > (start_75ths_max - 74) / 75) return start_75ths_max;
    return seconds * 75 + frames % rate * 75 / rate;
}

static bool all_ascii(const char *text, size_t bytes)
{
    for (size_t i = 0; i < bytes; i++)
        if (static_cast<unsigned char>(text[i]) >= 0x80) return false;
    return true;
}

// --- reading a sheet ---------------------------------------------------------------------

// One line of the sheet (its line end not included) and where reading has got to in it.
struct sheet_line {
    const char *text;
    size_t bytes;
    size_t at;
};

static bool blank(char c) { return c == ' ' || c == '\t'; }

static void skip_blanks(sheet_line *line)
{
    while (line->at < line->bytes && blank(line->text[line->at])) line->at++;
}

static bool at_end(sheet_line *line)
{
    skip_blanks(line);
    return line->at == line->bytes;
}

// The word (in any case) followed by a blank or the line's end, then the blanks after it.
static bool take_word(sheet_line *line, const char *word)
{
    size_t length = strlen(word), at = line->at;
    if (line->bytes - at < length) return false;
    for (size_t i = 0; i < length; i++) {
        char c = line->text[at + i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 0x20);
        if (c != word[i]) return false;
    }
    if (at + length < line->bytes && !blank(line->text[at + length])) return false;
    line->at = at + length;
    skip_blanks(line);
    return true;
}

// Decimal digits (at least one) of a value up to max.
static bool take_number(sheet_line *line, uint64_t max, uint64_t *value)
{
    size_t at = line->at;
    uint64_t v = 0;
    while (at < line->bytes && line->text[at] >= '0' && line->text[at] <= '9') {
        uint64_t digit = static_cast<uint64_t>(line->text[at++] - '0');
        if (v > (max - digit) / 10) return false;
        v = v * 10 + digit;
    }
    if (at == line->at) return false;
    line->at = at;
    *value = v;
    return true;
}

// mm:ss:ff in 1/75 s: any minutes the 64-bit count holds, ss below 60, ff below 75.
static bool take_start(sheet_line *line, uint64_t *start_75ths)
{
    uint64_t minutes, seconds, frames;
    if (!take_number(line, start_75ths_max / 4500, &minutes)) return false;
    if (line->at >= line->bytes || line->text[line->at++] != ':') return false;
    if (!take_number(line, 59, &seconds)) return false;
    if (line->at >= line->bytes || line->text[line->at++] != ':') return false;
    if (!take_number(line, 74, &frames)) return false;
    uint64_t within = seconds * 75 + frames;
    if (minutes * 4500 > start_75ths_max - within) return false;
    *start_75ths = minutes * 4500 + within;
    return true;
}

// Text in double quotes, or up to the next blank without them; then the blanks after it.
static bool take_text(sheet_line *line, const char **text, size_t *bytes)
{
    size_t at = line->at;
    if (at < line->bytes && line->text[at] == '"') {
        const char *close = static_cast<const char *>(memchr(line->text + at + 1, '"', line->bytes - at - 1));
        if (!close) return false;
        *text = line->text + at + 1;
        *bytes = static_cast<size_t>(close - *text);
        line->at = static_cast<size_t>(close - line->text) + 1;
    } else {
        while (at < line->bytes && !blank(line->text[at])) at++;
        *text = line->text + line->at;
        *bytes = at - line->at;
        line->at = at;
    }
    if (line->at < line->bytes && !blank(line->text[line->at])) return false;
    skip_blanks(line);
    return true;
}

// At least one blank, or the line's end.
static bool take_gap(sheet_line *line)
{
    size_t at = line->at;
    skip_blanks(line);
    return line->at > at || line->at == line->bytes;
}

// "REM TRACK n TITLE "text" INDEX 01 mm:ss:ff" past its REM: the form the builder gives the
// tracks past cue_format_tracks.
static bool take_rem_track(sheet_line *line, uint64_t *number, uint64_t *start_75ths)
{
    const char *title;
    size_t title_bytes;
    uint64_t index;
    return take_word(line, "TRACK") && take_number(line, cue_track_number_max, number) && *number > 0 &&
           take_gap(line) && take_word(line, "TITLE") && line->at < line->bytes && line->text[line->at] == '"' &&
           take_text(line, &title, &title_bytes) && take_word(line, "INDEX") && take_number(line, 99, &index) &&
           index == 1 && take_gap(line) && take_start(line, start_75ths) && at_end(line);
}

// The bounds and the encoding, before any line is read.
static cue_read_result check_bytes(const char *text, size_t bytes)
{
    size_t line_start = 0;
    for (size_t at = 0; at < bytes; at++) {
        if (text[at] == '\r' || text[at] == '\n') line_start = at + 1;
        else if (at - line_start >= cue_line_max_bytes) return cue_read_too_large;
    }
    return cue_valid_text(text, bytes) ? cue_read_ours : cue_read_not_utf8;
}

static bool is_wave(const char *type, size_t bytes)
{
    sheet_line line = {type, bytes, 0};
    return take_word(&line, "WAVE") && at_end(&line);
}

// What reading found, cue_sheet_adopt's too.
struct sheet_reading {
    cue_sheet_facts facts;
    bool bom;
    size_t text_bytes; // past the mark
    size_t last_entry; // where the last track's lines start in the text
};

static cue_read_result read_sheet(const char *bytes, size_t length, const char *path, sheet_reading *reading)
{
    memset(reading, 0, sizeof *reading);
    if (length > cue_sheet_max_bytes) return cue_read_too_large;
    reading->bom = length >= bom_bytes && memcmp(bytes, utf8_bom, bom_bytes) == 0;
    const char *text = bytes + (reading->bom ? bom_bytes : 0);
    size_t text_bytes = length - (reading->bom ? bom_bytes : 0);
    reading->text_bytes = text_bytes;
    cue_read_result checked = check_bytes(text, text_bytes);
    if (checked != cue_read_ours) return checked;

    char name[cue_name_max_bytes];
    size_t name_bytes = cue_file_name(path, name);
    cue_sheet_facts *facts = &reading->facts;
    unsigned files = 0;
    bool names_this = false, unreadable = false, in_entry = false, entry_started = false;
    for (size_t start = 0; start < text_bytes;) {
        size_t end = start;
        while (end < text_bytes && text[end] != '\r' && text[end] != '\n') end++;
        sheet_line line = {text + start, end - start, 0};
        skip_blanks(&line);
        uint64_t number = 0, start_75ths = 0, index = 0;
        if (take_word(&line, "FILE")) {
            const char *file, *type;
            size_t file_bytes, type_bytes;
            files++;
            if (facts->tracks) unreadable = true; // tracks of no file
            names_this = take_text(&line, &file, &file_bytes) && take_text(&line, &type, &type_bytes) &&
                         at_end(&line) && is_wave(type, type_bytes) && name_bytes &&
                         cue_same_name(file, file_bytes, name, name_bytes);
        } else if (take_word(&line, "TRACK")) {
            if (in_entry && !entry_started) unreadable = true;
            if (!take_number(&line, cue_track_number_max, &number) || number == 0 || !take_gap(&line))
                unreadable = true;
            facts->tracks++;
            facts->last_number = static_cast<uint32_t>(number);
            reading->last_entry = start;
            in_entry = true;
            entry_started = false;
        } else if (take_word(&line, "INDEX")) {
            if (!take_number(&line, 99, &index)) {
                unreadable = true;
            } else if (index == 1) {
                if (in_entry && take_gap(&line) && take_start(&line, &start_75ths) && at_end(&line)) {
                    facts->last_start_75ths = start_75ths;
                    entry_started = true;
                } else {
                    unreadable = true;
                }
            }
        } else if (take_word(&line, "REM") && take_rem_track(&line, &number, &start_75ths)) {
            if (in_entry && !entry_started) unreadable = true;
            facts->tracks++;
            facts->last_number = static_cast<uint32_t>(number);
            facts->last_start_75ths = start_75ths;
            reading->last_entry = start;
            in_entry = false; // an INDEX 01 after it would belong to no track
        }
        start = end + 1;
        if (end + 1 < text_bytes && text[end] == '\r' && text[end + 1] == '\n') start++;
    }
    if (in_entry && !entry_started) unreadable = true;
    if (files != 1 || !names_this) return cue_read_other_file;
    return unreadable ? cue_read_unreadable_track : cue_read_ours;
}

cue_read_result cue_sheet_read(const char *bytes, size_t length, const char *path_ansi, cue_sheet_facts *facts)
{
    sheet_reading reading;
    cue_read_result result = read_sheet(bytes, length, path_ansi, &reading);
    *facts = reading.facts;
    if (result != cue_read_ours) memset(facts, 0, sizeof *facts);
    return result;
}

// --- building a sheet --------------------------------------------------------------------

// Text being put together in out (room bytes); once a piece does not fit, nothing more goes in.
struct sheet_text {
    char *out;
    size_t room;
    size_t used;
    bool cut;
};

static void put_bytes(sheet_text *text, const char *bytes, size_t count)
{
    if (text->cut) return;
    if (text->used + count > text->room) {
        text->cut = true;
        return;
    }
    memcpy(text->out + text->used, bytes, count);
    text->used += count;
}

static void put_literal(sheet_text *text, const char *literal) { put_bytes(text, literal, strlen(literal)); }

static void put_number(sheet_text *text, uint64_t value, unsigned min_digits)
{
    char digits[decimal_text_chars];
    put_bytes(text, digits, decimal_text(digits, value, min_digits));
}

static void put_start(sheet_text *text, uint64_t start_75ths)
{
    put_number(text, start_75ths / 4500, 2);
    put_literal(text, ":");
    put_number(text, start_75ths / 75 % 60, 2);
    put_literal(text, ":");
    put_number(text, start_75ths % 75, 2);
}

bool cue_sheet_start(cue_sheet *sheet, char *buffer, const char *path_ansi)
{
    char name[cue_name_max_bytes];
    size_t name_bytes = cue_file_name(path_ansi, name);
    if (name_bytes == 0) return false;
    memset(sheet, 0, sizeof *sheet);
    sheet->buffer = buffer;
    memcpy(buffer, utf8_bom, bom_bytes);
    sheet_text text = {buffer + bom_bytes, text_max_bytes, 0, false};
    put_literal(&text, "FILE \"");
    put_bytes(&text, name, name_bytes);
    put_literal(&text, "\" WAVE\r\n");
    sheet->text_bytes = text.used;
    sheet->non_ascii = !all_ascii(name, name_bytes);
    return true;
}

bool cue_sheet_adopt(cue_sheet *sheet, char *buffer, size_t length, const char *path_ansi)
{
    sheet_reading reading;
    if (read_sheet(buffer, length, path_ansi, &reading) != cue_read_ours) return false;
    size_t text_bytes = reading.text_bytes;
    bool open_end = buffer[length - 1] != '\r' && buffer[length - 1] != '\n'; // a sheet of ours is never empty
    if (text_bytes + (open_end ? 2 : 0) > text_max_bytes) return false;
    if (!reading.bom) {
        memmove(buffer + bom_bytes, buffer, text_bytes);
        memcpy(buffer, utf8_bom, bom_bytes);
    }
    char *text = buffer + bom_bytes;
    if (open_end) {
        text[text_bytes++] = '\r';
        text[text_bytes++] = '\n';
    }
    memset(sheet, 0, sizeof *sheet);
    sheet->buffer = buffer;
    sheet->text_bytes = text_bytes;
    sheet->adopted_bom = reading.bom;
    sheet->non_ascii = !all_ascii(text, text_bytes);
    sheet->tracks = reading.facts.tracks;
    sheet->last_number = reading.facts.last_number;
    sheet->last_start_75ths = reading.facts.last_start_75ths;
    sheet->last_entry = reading.last_entry;
    return true;
}

uint32_t cue_sheet_add_track(cue_sheet *sheet, const char *ansi_title, uint64_t start_75ths)
{
    if (sheet->tracks > 0 && start_75ths < sheet->last_start_75ths) return 0;
    bool replaces = sheet->tracks > 0 && start_75ths == sheet->last_start_75ths;
    uint32_t number = replaces ? sheet->last_number : sheet->last_number + 1;
    if (number > cue_track_number_max) return 0;

    char title[cue_title_max_bytes + 1];
    size_t title_bytes = cue_title(ansi_title, title);
    char entry_bytes[512]; // the longest entry, a REM line, takes about 320
    sheet_text entry = {entry_bytes, sizeof entry_bytes, 0, false};
    if (number <= cue_format_tracks) {
        put_literal(&entry, "  TRACK ");
        put_number(&entry, number, 2);
        put_literal(&entry, " AUDIO\r\n    TITLE \"");
        put_bytes(&entry, title, title_bytes);
        put_literal(&entry, "\"\r\n    INDEX 01 ");
    } else {
        put_literal(&entry, "  REM TRACK ");
        put_number(&entry, number, 1);
        put_literal(&entry, " TITLE \"");
        put_bytes(&entry, title, title_bytes);
        put_literal(&entry, "\" INDEX 01 ");
    }
    put_start(&entry, start_75ths);
    put_literal(&entry, "\r\n");

    size_t keep = replaces ? sheet->last_entry : sheet->text_bytes;
    if (entry.cut || keep + entry.used > text_max_bytes) return 0;
    char *text = sheet->buffer + bom_bytes;
    // The replaced entry may have been the only text past ASCII.
    bool non_ascii = replaces ? !all_ascii(text, keep) : sheet->non_ascii;
    memcpy(text + keep, entry_bytes, entry.used);
    sheet->text_bytes = keep + entry.used;
    sheet->non_ascii = non_ascii || !all_ascii(title, title_bytes);
    if (!replaces) sheet->tracks++;
    sheet->last_number = number;
    sheet->last_start_75ths = start_75ths;
    sheet->last_entry = keep;
    return number;
}

const char *cue_sheet_bytes(const cue_sheet *sheet, size_t *length)
{
    bool bom = sheet->adopted_bom || sheet->non_ascii;
    *length = sheet->text_bytes + (bom ? bom_bytes : 0);
    return sheet->buffer + (bom ? 0 : bom_bytes);
}
