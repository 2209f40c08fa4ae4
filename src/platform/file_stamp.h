// What identifies one version of a file: where it lives and when it last changed. A file
// replaced or edited gets another stamp.
#pragma once

#include <cstdint>

namespace plat {

struct FileStamp {
    bool exists = false;
    std::uint64_t device = 0;   // st_dev / the volume's serial number
    std::uint64_t index = 0;    // st_ino / the file index
    std::uint64_t size = 0;
    std::int64_t modified = 0;  // last write, in the platform's finest unit
    bool operator==(const FileStamp &o) const {
        return exists == o.exists && device == o.device && index == o.index && size == o.size &&
               modified == o.modified;
    }
    bool operator!=(const FileStamp &o) const { return !(*this == o); }
};

// The stamp of a file or folder (stat; GetFileInformationByHandle); exists false when it cannot
// be read.
FileStamp file_stamp(const char *path);

} // namespace plat
