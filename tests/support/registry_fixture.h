// Test support: registry contents from .reg text. On Windows the text is imported into the real
// (Wine) registry with reg.exe; on POSIX the library reads the file itself, through
// QXN_ravlink_registry_machine and QXN_ravlink_registry_user.
#pragma once

#ifdef _WIN32
#include <process.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/loopback.h"

namespace testsupport {

inline int process_number() {
#ifdef _WIN32
    return _getpid();
#else
    return static_cast<int>(getpid());
#endif
}

// A file name of this process in the temporary folder (memory-backed where there is one).
inline std::string temp_file(const std::string &name) {
    const char *dir = std::getenv("TMPDIR");
#ifdef _WIN32
    if (dir == nullptr) dir = std::getenv("TEMP");
#else
    if (dir == nullptr && access("/dev/shm", W_OK) == 0) dir = "/dev/shm";
#endif
    return std::string(dir ? dir : "/tmp") + "/" + std::to_string(process_number()) + "-" + name;
}

inline bool write_file(const std::string &path, const std::string &bytes) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

inline void set_env(const char *name, const std::string &value) { set_env(name, value.c_str()); }
inline void unset_env(const char *name) { set_env(name, nullptr); }

// The same text in UTF-16LE with a byte-order mark, as regedit exports (ASCII input).
inline std::string utf16le(const std::string &ascii) {
    std::string out("\xFF\xFE", 2);
    for (char c : ascii) out += {c, '\0'};
    return out;
}

// Makes the registry hold what the .reg text says (machine and user sections in one file). On
// Windows, "[-...]" sections at the top clear what an earlier run left. True on success.
inline bool install_registry(const std::string &name, const std::string &reg_text) {
    std::string path = temp_file(name);
    if (!write_file(path, reg_text)) return false;
#ifdef _WIN32
    bool ok = std::system(("reg import \"" + path + "\" >NUL 2>&1").c_str()) == 0;
    std::remove(path.c_str());
    return ok;
#else
    set_env("QXN_ravlink_registry_machine", path);
    set_env("QXN_ravlink_registry_user", path);
    return true;
#endif
}

// Undoes install_registry on POSIX; the Windows registry keeps its keys for the next run to clear.
inline void remove_registry(const std::string &name) {
    std::remove(temp_file(name).c_str()); // already gone on Windows
    unset_env("QXN_ravlink_registry_machine");
    unset_env("QXN_ravlink_registry_user");
}

} // namespace testsupport
