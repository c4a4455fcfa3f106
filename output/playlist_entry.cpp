// Asks the player for its current entry; see playlist_entry.h.
#include "output/playlist_entry.h"

#include <string.h>

bool ask_playlist_entry(HWND player_window, bool wait_briefly, playlist_entry *entry)
{
    LRESULT position = 0, title = 0;
    if (wait_briefly) {
        // From the decoding thread the player's window thread may be waiting for this very
        // thread to stop: a plain SendMessage would never come back.
        DWORD_PTR answer = 0;
        if (!SendMessageTimeoutA(player_window, WM_USER, 0, request_playlist_position, SMTO_ABORTIFHUNG,
                                 playlist_wait_ms, &answer))
            return false;
        position = static_cast<LRESULT>(answer);
        if (!SendMessageTimeoutA(player_window, WM_USER, static_cast<WPARAM>(position), request_playlist_title,
                                 SMTO_ABORTIFHUNG, playlist_wait_ms, &answer))
            return false;
        title = static_cast<LRESULT>(answer);
    } else {
        position = SendMessageA(player_window, WM_USER, 0, request_playlist_position);
        title = SendMessageA(player_window, WM_USER, static_cast<WPARAM>(position), request_playlist_title);
    }
    entry->position = position;
    const char *text = reinterpret_cast<const char *>(title);
    if (!text) text = ""; // the player has no title for this entry
    // Read at once, never beyond the bound: the title may come from a remote server.
    size_t length = whole_characters(text, strnlen(text, title_max_bytes + 1), title_max_bytes);
    memcpy(entry->title, text, length);
    entry->title[length] = 0;
    return true;
}

size_t entry_number(const playlist_entry *entry, unsigned min_digits, char *text)
{
    unsigned long long value = entry->position < 0 ? 1 : static_cast<unsigned long long>(entry->position) + 1;
    return decimal_text(text, value, min_digits);
}
