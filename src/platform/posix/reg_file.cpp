// Registry export files: decoding, sections and value lines (strings, dword: and hex forms).
#include "platform/posix/reg_file.h"

#include <cctype>
#include <unordered_map>

#include "platform/registry.h"

namespace plat {

namespace {

void put_utf8(std::string &out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string utf16le_to_utf8(const std::string &bytes, std::size_t start) {
    std::string out;
    out.reserve(bytes.size() / 2);
    auto unit = [&](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8));
    };
    std::size_t i = start;
    while (i + 1 < bytes.size()) {
        std::uint32_t u = unit(i);
        i += 2;
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < bytes.size() && unit(i) >= 0xDC00 && unit(i) < 0xE000) {
            u = 0x10000 + ((u - 0xD800) << 10) + (unit(i) - 0xDC00);
            i += 2;
        } else if (u >= 0xD800 && u < 0xE000) {
            u = 0xFFFD; // an unpaired surrogate
        }
        put_utf8(out, u);
    }
    return out;
}

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

std::string lowered(const std::string &s) {
    std::string out(s);
    for (char &c : out) c = lower(c);
    return out;
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::size_t skip_blanks(const std::string &line, std::size_t pos) {
    while (pos < line.size() && is_blank(line[pos])) ++pos;
    return pos;
}

// A quoted text starting at line[pos] == '"': \\ and \" stand for themselves, \n for a line feed
// (as Wine writes it); any other backslash is kept. Returns the position after the closing quote,
// or npos when the quote is not closed.
std::size_t read_quoted(const std::string &line, std::size_t pos, std::string &out) {
    for (++pos; pos < line.size(); ++pos) {
        char c = line[pos];
        if (c == '"') return pos + 1;
        if (c == '\\') {
            if (pos + 1 >= line.size()) return std::string::npos;
            char next = line[++pos];
            if (next == '\\' || next == '"') out += next;
            else if (next == 'n') out += '\n';
            else { out += '\\'; out += next; }
        } else {
            out += c;
        }
    }
    return std::string::npos;
}

bool read_dword(const std::string &line, std::size_t pos, std::string &out) {
    std::uint32_t v = 0;
    std::size_t digits = 0;
    for (; pos < line.size() && std::isxdigit(static_cast<unsigned char>(line[pos])); ++pos, ++digits) {
        char c = lower(line[pos]);
        v = (v << 4) | static_cast<std::uint32_t>(c <= '9' ? c - '0' : c - 'a' + 10);
    }
    if (digits == 0 || digits > 8 || skip_blanks(line, pos) != line.size()) return false;
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
    return true;
}

// Comma-separated hex bytes ("01,ff, 0a"); false on anything else.
bool read_hex_bytes(const std::string &line, std::size_t pos, std::string &out) {
    pos = skip_blanks(line, pos);
    while (pos < line.size()) {
        std::size_t start = pos;
        unsigned v = 0;
        for (; pos < line.size() && pos - start < 2 && std::isxdigit(static_cast<unsigned char>(line[pos])); ++pos) {
            char c = lower(line[pos]);
            v = (v << 4) | static_cast<unsigned>(c <= '9' ? c - '0' : c - 'a' + 10);
        }
        if (pos - start != 2) return false;
        out += static_cast<char>(v);
        pos = skip_blanks(line, pos);
        if (pos < line.size()) {
            if (line[pos] != ',') return false;
            pos = skip_blanks(line, pos + 1);
        }
    }
    return true;
}

// hex:bytes (REG_BINARY) or hex(T):bytes (type T in hex) after the '='. String types keep the
// text RegQueryValueExA would give: a Unicode export's UTF-16LE bytes become UTF-8.
bool read_hex_value(const std::string &line, std::size_t pos, bool unicode, RegFileValue &value) {
    const std::string head = lowered(line.substr(pos, 4));
    if (head != "hex:" && head != "hex(") return false;
    pos += 3;
    std::uint32_t type = 3; // REG_BINARY
    if (line[pos] == '(') {
        std::size_t close = line.find(')', pos);
        if (close == std::string::npos || close == pos + 1 || close > pos + 9) return false;
        type = 0;
        for (std::size_t i = pos + 1; i < close; ++i) {
            if (!std::isxdigit(static_cast<unsigned char>(line[i]))) return false;
            char c = lower(line[i]);
            type = (type << 4) | static_cast<std::uint32_t>(c <= '9' ? c - '0' : c - 'a' + 10);
        }
        pos = close + 1;
    }
    if (pos >= line.size() || line[pos] != ':') return false;
    std::string bytes;
    if (!read_hex_bytes(line, pos + 1, bytes)) return false;
    constexpr std::uint32_t kRegMultiSz = 7;
    const bool text = type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
    value.type = type;
    value.data = text && unicode ? utf16le_to_utf8(bytes, 0) : bytes;
    // A string is kept with its terminator, as a quoted one is.
    if (type == kRegSz && (value.data.empty() || value.data.back() != '\0')) value.data += '\0';
    return true;
}

// A value line: "Name"="text", @="text", "Name"=dword:xxxxxxxx or "Name"=hex(T):bytes. False
// when it is none of them.
bool read_value(const std::string &line, std::size_t pos, bool unicode, RegFileValue &value) {
    value = RegFileValue{};
    if (line[pos] == '@') {
        ++pos;
    } else {
        pos = read_quoted(line, pos, value.name);
        if (pos == std::string::npos) return false;
    }
    pos = skip_blanks(line, pos);
    if (pos >= line.size() || line[pos] != '=') return false;
    pos = skip_blanks(line, pos + 1);
    if (pos >= line.size()) return false;
    if (line[pos] == '"') {
        pos = read_quoted(line, pos, value.data);
        if (pos == std::string::npos || skip_blanks(line, pos) != line.size()) return false;
        value.data += '\0'; // stored with its terminator, as regedit stores a REG_SZ
        value.type = kRegSz;
        return true;
    }
    if (lowered(line.substr(pos, 6)) == "dword:") {
        value.type = kRegDword;
        return read_dword(line, pos + 6, value.data);
    }
    return read_hex_value(line, pos, unicode, value); // else a deletion ("=-") or unreadable
}

// The section's path below the root, or false when the header does not name a key of that root.
bool read_section(const std::string &line, std::size_t pos, RegFileRoot root, std::string &path) {
    std::size_t close = line.rfind(']');
    if (close == std::string::npos || close <= pos || skip_blanks(line, close + 1) != line.size())
        return false;
    std::string full = line.substr(pos + 1, close - pos - 1);
    if (full.empty() || full[0] == '-') return false; // a deletion: nothing to read
    std::size_t slash = full.find('\\');
    std::string head = lowered(full.substr(0, slash));
    bool ours = root == RegFileRoot::LocalMachine ? (head == "hkey_local_machine" || head == "hklm")
                                                  : (head == "hkey_current_user" || head == "hkcu");
    if (!ours) return false;
    path = slash == std::string::npos ? std::string() : full.substr(slash + 1);
    while (!path.empty() && path.back() == '\\') path.pop_back();
    while (!path.empty() && path.front() == '\\') path.erase(0, 1);
    return true;
}

} // namespace

std::string reg_file_text(const std::string &bytes) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE)
        return utf16le_to_utf8(bytes, 2);
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return bytes.substr(3);
    return bytes;
}

bool reg_name_equal(const std::string &a, const std::string &b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

std::vector<RegFileKey> parse_reg_file(const std::string &bytes, RegFileRoot root) {
    const std::string text = reg_file_text(bytes);
    std::vector<RegFileKey> keys;
    std::unordered_map<std::string, std::size_t> index; // lowered path -> position in keys
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    std::size_t current = kNone;                        // kNone: lines go nowhere

    // REGEDIT4 files hold string bytes in the ANSI code page, later ones in UTF-16LE.
    bool unicode = true;
    std::size_t start = 0;
    auto next_line = [&text, &start] {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
    };
    while (start < text.size()) {
        std::string line = next_line();
        if (line == "REGEDIT4") unicode = false;
        // Long hex values go on over lines that end in a backslash.
        const bool hex = lowered(line).find("=hex") != std::string::npos;
        while (hex && !line.empty() && line.back() == '\\' && start < text.size()) {
            line.pop_back();
            std::string more = next_line();
            line += more.substr(skip_blanks(more, 0));
        }

        std::size_t pos = skip_blanks(line, 0);
        if (pos >= line.size()) continue;
        if (line[pos] == '[') {
            std::string path;
            current = kNone;
            if (!read_section(line, pos, root, path)) continue;
            auto found = index.emplace(lowered(path), keys.size());
            if (found.second) keys.push_back(RegFileKey{path, {}});
            current = found.first->second;
        } else if ((line[pos] == '"' || line[pos] == '@') && current != kNone) {
            RegFileValue value;
            if (!read_value(line, pos, unicode, value)) continue;
            std::vector<RegFileValue> &values = keys[current].values;
            bool replaced = false;
            for (RegFileValue &v : values)
                if (reg_name_equal(v.name, value.name)) {
                    v = value; // a later line wins, as in an import
                    replaced = true;
                    break;
                }
            if (!replaced) values.push_back(value);
        }
        // Anything else (the header line, comments) is skipped.
    }
    return keys;
}

} // namespace plat
