// File stamps on Windows: the volume serial number, file index, size and last write time.
#include <windows.h>

#include "platform/file_stamp.h"

namespace plat {

FileStamp file_stamp(const char *path) {
    FileStamp s;
    if (path == nullptr) return s;
    // Backup semantics let a folder be opened too; no access right is needed for the query.
    HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return s;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(h, &info)) {
        s.exists = true;
        s.device = info.dwVolumeSerialNumber;
        s.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
        s.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
        s.modified = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                                               info.ftLastWriteTime.dwLowDateTime);
    }
    CloseHandle(h);
    return s;
}

} // namespace plat
