// Windows file functions over POSIX files, with the last-error values the plug-in tests:
// create-new fails with 80 on an existing file, create-always reports 183 when it replaced one,
// a file opened without sharing cannot be opened again, short and failed writes are visible.
#include <windows.h>

#include "win32_shim/shim_control.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct shim_file {
    int fd;
    dev_t device;
    ino_t inode;
    DWORD share;
};

constexpr int max_files = 64;
shim_file files[max_files];
bool file_used[max_files];
long long write_budget = -1;
DWORD write_sink_smallest;

DWORD error_from_errno(int error)
{
    switch (error) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES: case EPERM: case EISDIR: case EROFS: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOSPC: case EFBIG: return ERROR_DISK_FULL;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    default: return ERROR_WRITE_FAULT;
    }
}

shim_file *file_from_handle(HANDLE handle)
{
    shim_file *file = static_cast<shim_file *>(handle);
    if (file < files || file >= files + max_files || !file_used[file - files]) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return file;
}

// Windows refuses a second open of a file that one handle holds without sharing, or whose
// sharing does not allow the access asked for. Sharing modes are compared coarsely: any
// missing share flag refuses, which is all the plug-in relies on.
bool sharing_conflict(const struct stat &st, DWORD share)
{
    for (int i = 0; i < max_files; i++) {
        if (!file_used[i] || files[i].device != st.st_dev || files[i].inode != st.st_ino) continue;
        if ((files[i].share & (FILE_SHARE_READ | FILE_SHARE_WRITE)) != (FILE_SHARE_READ | FILE_SHARE_WRITE) ||
            (share & (FILE_SHARE_READ | FILE_SHARE_WRITE)) != (FILE_SHARE_READ | FILE_SHARE_WRITE))
            return true;
    }
    return false;
}

// Deleting or renaming a file, or replacing it by a rename, needs every handle open on it to
// share deletion.
bool delete_conflict(const struct stat &st)
{
    for (int i = 0; i < max_files; i++)
        if (file_used[i] && files[i].device == st.st_dev && files[i].inode == st.st_ino &&
            !(files[i].share & FILE_SHARE_DELETE))
            return true;
    return false;
}

} // namespace

void shim_native_path(const char *name, char *out, size_t out_size)
{
    if (out_size == 0) return;
    const char *p = name;
    // A drive letter stands for the current directory: "c:\x.wav" is "x.wav" here.
    if (((p[0] >= 'a' && p[0] <= 'z') || (p[0] >= 'A' && p[0] <= 'Z')) && p[1] == ':') {
        p += 2;
        while (*p == '\\' || *p == '/') p++;
        if (*p == 0) p = ".";
    }
    size_t n = 0;
    for (; *p && n + 1 < out_size; p++) out[n++] = *p == '\\' ? '/' : *p;
    out[n] = 0;
}

void shim_set_write_budget(long long bytes) { write_budget = bytes; }
void shim_set_write_sink(DWORD smallest_bytes) { write_sink_smallest = smallest_bytes; }

extern "C" HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, void *, DWORD disposition, DWORD,
                              HANDLE)
{
    char path[4096];
    if (shim_fault_due("CreateFileA", ERROR_ACCESS_DENIED)) return INVALID_HANDLE_VALUE;
    if (!name || !*name) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    shim_native_path(name, path, sizeof path);
    int slot = 0;
    while (slot < max_files && file_used[slot]) slot++;
    if (slot == max_files) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }

    struct stat st;
    bool existed = stat(path, &st) == 0;
    if (existed && S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (existed && disposition == CREATE_NEW) {
        SetLastError(ERROR_FILE_EXISTS);
        return INVALID_HANDLE_VALUE;
    }
    if (existed && sharing_conflict(st, share)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }

    int flags = O_CLOEXEC;
    if ((access & GENERIC_READ) && (access & GENERIC_WRITE)) flags |= O_RDWR;
    else if (access & GENERIC_WRITE) flags |= O_WRONLY;
    else flags |= O_RDONLY;
    switch (disposition) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case OPEN_EXISTING: break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
    }
    int fd = open(path, flags, 0666);
    if (fd < 0) {
        SetLastError(errno == EEXIST ? ERROR_FILE_EXISTS : error_from_errno(errno));
        return INVALID_HANDLE_VALUE;
    }
    fstat(fd, &st);
    file_used[slot] = true;
    files[slot] = shim_file{fd, st.st_dev, st.st_ino, share};
    // Windows reports a replaced or reopened file through the last error even on success.
    SetLastError(existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) ? ERROR_ALREADY_EXISTS
                                                                                       : ERROR_SUCCESS);
    return &files[slot];
}

extern "C" BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD bytes, LPDWORD bytes_read, void *)
{
    if (bytes_read) *bytes_read = 0;
    if (shim_fault_due("ReadFile", ERROR_READ_FAULT)) return FALSE;
    shim_file *file = file_from_handle(handle);
    if (!file) return FALSE;
    DWORD done = 0;
    while (done < bytes) {
        ssize_t n = read(file->fd, static_cast<char *>(buffer) + done, bytes - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            SetLastError(error_from_errno(errno));
            if (bytes_read) *bytes_read = done;
            return FALSE;
        }
        if (n == 0) break; // end of file: success with a short count, as on Windows
        done += static_cast<DWORD>(n);
    }
    if (bytes_read) *bytes_read = done;
    return TRUE;
}

extern "C" BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD bytes, LPDWORD bytes_written, void *)
{
    if (bytes_written) *bytes_written = 0;
    shim_fault fault = shim_fault_at("WriteFile", ERROR_DISK_FULL, true);
    if (fault == shim_fault_fail) return FALSE;
    shim_file *file = file_from_handle(handle);
    if (!file) return FALSE;
    DWORD allowed = bytes;
    // An odd part, short of the whole: the next frame or block boundary is never hit by luck.
    if (fault != shim_fault_none) allowed = bytes < 2 ? 0 : (bytes / 2) | 1;
    // A disk writes a sector whole or not at all: a power cut never tears a write that lies
    // within one 512-byte sector (a size field, a chunk id), so such a write is simply not made.
    // Only a write due to crash asks where it lands: Windows spends no call on it, nor may the stand-in.
    if (fault == shim_fault_part_then_crash && bytes > 0) {
        off_t at = lseek(file->fd, 0, SEEK_CUR);
        if (at >= 0 && at / 512 == (at + bytes - 1) / 512) allowed = 0;
    }
    if (write_budget >= 0 && static_cast<long long>(allowed) > write_budget)
        allowed = static_cast<DWORD>(write_budget);
    DWORD done = 0;
    if (write_sink_smallest && allowed >= write_sink_smallest && lseek(file->fd, allowed, SEEK_CUR) >= 0)
        done = allowed; // a hole where the bytes went
    while (done < allowed) {
        ssize_t n = write(file->fd, static_cast<const char *>(buffer) + done, allowed - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            SetLastError(error_from_errno(errno));
            break;
        }
        done += static_cast<DWORD>(n);
    }
    if (write_budget >= 0) write_budget -= done;
    if (bytes_written) *bytes_written = done;
    if (fault == shim_fault_part_then_crash) shim_crash();
    if (fault == shim_fault_part) {
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    if (done < bytes) {
        if (done == allowed) SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    return TRUE;
}

extern "C" DWORD SetFilePointer(HANDLE handle, LONG distance, PLONG distance_high, DWORD method)
{
    if (shim_fault_due("SetFilePointer", ERROR_NETNAME_DELETED)) return INVALID_SET_FILE_POINTER;
    shim_file *file = file_from_handle(handle);
    if (!file) return INVALID_SET_FILE_POINTER;
    long long offset = distance_high ? (static_cast<long long>(*distance_high) << 32) |
                                           static_cast<uint32_t>(distance)
                                     : static_cast<long long>(distance);
    int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : SEEK_END;
    off_t result = lseek(file->fd, static_cast<off_t>(offset), whence);
    if (result < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (distance_high) *distance_high = static_cast<LONG>(static_cast<long long>(result) >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(result);
}

extern "C" BOOL SetEndOfFile(HANDLE handle)
{
    if (shim_fault_due("SetEndOfFile", ERROR_WRITE_FAULT)) return FALSE;
    shim_file *file = file_from_handle(handle);
    if (!file) return FALSE;
    off_t here = lseek(file->fd, 0, SEEK_CUR);
    if (here < 0 || ftruncate(file->fd, here) != 0) {
        SetLastError(error_from_errno(errno));
        return FALSE;
    }
    return TRUE;
}

extern "C" DWORD GetFileSize(HANDLE handle, LPDWORD size_high)
{
    if (shim_fault_due("GetFileSize", ERROR_NETNAME_DELETED)) return INVALID_FILE_SIZE;
    shim_file *file = file_from_handle(handle);
    struct stat st;
    if (!file || fstat(file->fd, &st) != 0) return 0xFFFFFFFFu;
    if (size_high) *size_high = static_cast<DWORD>(static_cast<unsigned long long>(st.st_size) >> 32);
    return static_cast<DWORD>(st.st_size);
}

extern "C" BOOL CloseHandle(HANDLE handle)
{
    shim_file *file = file_from_handle(handle);
    if (!file) return FALSE;
    close(file->fd);
    file_used[file - files] = false;
    return TRUE;
}

extern "C" BOOL DeleteFileA(LPCSTR name)
{
    char path[4096];
    shim_native_path(name ? name : "", path, sizeof path);
    struct stat st;
    if (stat(path, &st) == 0 && delete_conflict(st)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    if (unlink(path) != 0) {
        SetLastError(error_from_errno(errno));
        return FALSE;
    }
    return TRUE;
}

// rename(2) replaces the target in one step, as MOVEFILE_REPLACE_EXISTING does on one volume.
extern "C" BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags)
{
    if (shim_fault_due("MoveFileExA", ERROR_ACCESS_DENIED)) return FALSE;
    char source[4096], target[4096];
    shim_native_path(from ? from : "", source, sizeof source);
    shim_native_path(to ? to : "", target, sizeof target);
    struct stat st;
    if (stat(source, &st) != 0) {
        SetLastError(error_from_errno(errno));
        return FALSE;
    }
    if (delete_conflict(st)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    if (stat(target, &st) == 0) {
        if (!(flags & MOVEFILE_REPLACE_EXISTING)) {
            SetLastError(ERROR_ALREADY_EXISTS);
            return FALSE;
        }
        if (S_ISDIR(st.st_mode)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        if (delete_conflict(st)) {
            SetLastError(ERROR_SHARING_VIOLATION);
            return FALSE;
        }
    }
    if (rename(source, target) != 0) {
        SetLastError(error_from_errno(errno));
        return FALSE;
    }
    return TRUE;
}
