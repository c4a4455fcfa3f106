// Moves of bytes and of the file pointer on an open file handle, each telling whether it did
// all it was asked. They keep no state: the caller owns the file and its counters.
#ifndef TOLLVANE_HANDLE_IO_H
#define TOLLVANE_HANDLE_IO_H

#include <stdint.h>
#include <windows.h>

// Bytes actually written; a short or failed write shows as a smaller count.
uint32_t handle_put(HANDLE file, const void *data, uint32_t bytes);
// True when all bytes were read; *failed tells a read that failed from one that met the end.
bool handle_read(HANDLE file, void *buffer, uint32_t bytes, bool *failed);
// False when the pointer did not get there.
bool handle_seek(HANDLE file, uint64_t offset);
// Ends the file at offset; false, with nothing cut, when the pointer could not be put there.
bool handle_cut(HANDLE file, uint64_t offset);
// False when the platform could not say.
bool handle_size(HANDLE file, uint64_t *bytes);

// A new file that is to take the place of path (which ends in a four-character extension, such
// as ".wav" or ".cue") in one rename once it is written: made beside it, with create-new, under
// a temporary name as long as path, whose extension becomes ".~01", ".~02", ... (one that exists
// was left by a player that died). Open for writing and shared for deletion, without which an
// open file cannot be renamed. Its name goes into temporary (as long as path, with terminator);
// INVALID_HANDLE_VALUE when none could be made.
HANDLE handle_create_beside(const char *path, char *temporary);

#endif
