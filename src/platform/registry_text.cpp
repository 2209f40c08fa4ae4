// Registry values read as text whatever their type: strings, expandable strings and DWORDs.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/registry.h"

namespace plat {

namespace {

// The whole stored value; false (with rc) when it cannot be read.
bool read_whole(RegKey key, const char *name, std::vector<unsigned char> &bytes, long &rc) {
    std::uint32_t size = 0;
    rc = reg_query_value(key, name, nullptr, nullptr, &size);
    if (rc != kErrorSuccess) return false;
    bytes.assign(size + 1, 0); // room for a terminator the value may lack
    rc = reg_query_value(key, name, nullptr, bytes.data(), &size);
    if (rc != kErrorSuccess) return false;
    bytes.resize(size);
    return true;
}

} // namespace

long reg_query_text(RegKey key, const char *name, std::uint32_t *type, unsigned char *data,
                    std::uint32_t *size) {
    std::uint32_t t = 0;
    const std::uint32_t room = size != nullptr ? *size : 0;
    long rc = reg_query_value(key, name, &t, data, size);
    if (type != nullptr) *type = t;
    if ((rc != kErrorSuccess && rc != kErrorMoreData) || t == kRegSz) return rc;
    if (t != kRegExpandSz && t != kRegDword) return kErrorUnsupportedType;

    std::vector<unsigned char> bytes;
    if (!read_whole(key, name, bytes, rc)) return rc;
    std::string text;
    if (t == kRegDword) {
        if (bytes.size() != 4) return kErrorUnsupportedType;
        const std::uint32_t value = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | std::uint32_t{bytes[3]} << 24;
        text = std::to_string(value);
    } else {
        text.assign(reinterpret_cast<const char *>(bytes.data()), bytes.size());
        text = expand_environment(text.c_str()); // the stored text up to its terminator
    }
    const auto needed = static_cast<std::uint32_t>(text.size() + 1);
    if (size == nullptr) return kErrorSuccess;
    *size = needed;
    if (data == nullptr) return kErrorSuccess;
    if (room < needed) return kErrorMoreData;
    std::memcpy(data, text.c_str(), needed);
    return kErrorSuccess;
}

} // namespace plat
