// Parsing of registry export files (.reg): the POSIX stand-in for one registry hive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plat {

struct RegFileValue {
    std::string name;          // "" for the default value ("@")
    std::uint32_t type;        // REG_SZ, REG_DWORD, or the type a hex(T): line names
    std::string data;          // the bytes RegQueryValueExA returns (a REG_SZ with its terminator)
};

struct RegFileKey {
    std::string path;          // below the hive's root, without leading or trailing backslash
    std::vector<RegFileValue> values;
};

// Which root a file's sections must name to belong to the hive being read.
enum class RegFileRoot { LocalMachine, CurrentUser };

// Parses the contents of a .reg file (UTF-16LE with byte-order mark, or UTF-8 / ANSI; CRLF or
// LF) and returns the sections under the given root, in file order. Lines that cannot be read
// are skipped; sections of other roots and deletion sections ("[-...]") are ignored.
std::vector<RegFileKey> parse_reg_file(const std::string &bytes, RegFileRoot root);

// Converts a file's bytes to UTF-8 text: UTF-16LE when it starts with FF FE, otherwise the bytes
// as they are (a UTF-8 byte-order mark dropped).
std::string reg_file_text(const std::string &bytes);

// Compares two names the way the registry does: without regard to (ASCII) case.
bool reg_name_equal(const std::string &a, const std::string &b);

} // namespace plat
