// File stamps on POSIX: stat's device, inode, size and modification time.
#include "platform/file_stamp.h"

#include <sys/stat.h>

namespace plat {

FileStamp file_stamp(const char *path) {
    FileStamp s;
    struct stat st;
    if (path == nullptr || ::stat(path, &st) != 0) return s;
    s.exists = true;
    s.device = static_cast<std::uint64_t>(st.st_dev);
    s.index = static_cast<std::uint64_t>(st.st_ino);
    s.size = static_cast<std::uint64_t>(st.st_size);
    s.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return s;
}

} // namespace plat
