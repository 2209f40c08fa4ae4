// The registry on POSIX: each hive is a .reg export file, read afresh at every open.
// HKEY_LOCAL_MACHINE: $QXN_ravlink_registry_machine (default /etc/ravlink/registry.reg).
// HKEY_CURRENT_USER: $QXN_ravlink_registry_user (default $XDG_CONFIG_HOME/ravlink/registry.reg,
// else ~/.config/ravlink/registry.reg). A missing file is an empty hive.
#include <fstream>
#include <iterator>
#include <memory>
#include <new>
#include <string>

#include "platform/platform.h"
#include "platform/posix/reg_file.h"
#include "platform/registry.h"

namespace plat {

namespace {

constexpr long kErrorAccessDenied = 5;
constexpr long kErrorInvalidParameter = 87;
// Access bits that would change the registry: DELETE, WRITE_DAC, WRITE_OWNER, KEY_SET_VALUE,
// KEY_CREATE_SUB_KEY, KEY_CREATE_LINK.
constexpr std::uint32_t kWriteAccess = 0x10000 | 0x40000 | 0x80000 | 0x2 | 0x4 | 0x20;

struct OpenKey {
    std::vector<RegFileValue> values;
};

std::string hive_file(Hive hive) {
    std::string path;
    if (hive == Hive::LocalMachine) {
        if (get_env("QXN_ravlink_registry_machine", path) && !path.empty()) return path;
        return "/etc/ravlink/registry.reg";
    }
    if (get_env("QXN_ravlink_registry_user", path) && !path.empty()) return path;
    if (get_env("XDG_CONFIG_HOME", path) && !path.empty()) return path + "/ravlink/registry.reg";
    if (get_env("HOME", path) && !path.empty()) return path + "/.config/ravlink/registry.reg";
    return std::string();
}

std::string read_file(const std::string &path) {
    if (path.empty()) return std::string();
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::string();
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string trimmed_path(const char *subkey) {
    std::string path = subkey ? subkey : "";
    while (!path.empty() && path.back() == '\\') path.pop_back();
    while (!path.empty() && path.front() == '\\') path.erase(0, 1);
    return path;
}

bool starts_with_nocase(const std::string &s, const std::string &prefix) {
    return s.size() >= prefix.size() && reg_name_equal(s.substr(0, prefix.size()), prefix);
}

// The key at path: its values when a section names it; found with no values when only keys
// below it have sections (as an intermediate key on Windows); false when neither.
bool find_key(const std::vector<RegFileKey> &keys, const std::string &path,
              std::vector<RegFileValue> &values) {
    bool found = false;
    for (const RegFileKey &k : keys) {
        if (reg_name_equal(k.path, path)) {
            values = k.values;
            return true;
        }
        if (path.empty() || (k.path.size() > path.size() && k.path[path.size()] == '\\' &&
                             starts_with_nocase(k.path, path)))
            found = true;
    }
    return found;
}

} // namespace

long reg_open_key(Hive hive, const char *subkey, std::uint32_t access, RegKey *key) {
    if (key == nullptr) return kErrorInvalidParameter;
    *key = nullptr;
    if (access & kWriteAccess) return kErrorAccessDenied;

    const std::vector<RegFileKey> keys = parse_reg_file(
        read_file(hive_file(hive)),
        hive == Hive::LocalMachine ? RegFileRoot::LocalMachine : RegFileRoot::CurrentUser);

    // The 32-bit view of HKLM\SOFTWARE\X is HKLM\SOFTWARE\Wow6432Node\X on 64-bit Windows; look
    // there first so that an export from such a machine reads as it stands.
    std::string path = trimmed_path(subkey);
    std::vector<std::string> candidates;
    const std::string software = "SOFTWARE\\";
    if (hive == Hive::LocalMachine && (access & kKeyWow64_32) && starts_with_nocase(path, software) &&
        !starts_with_nocase(path, software + "Wow6432Node"))
        candidates.push_back(software + "Wow6432Node\\" + path.substr(software.size()));
    candidates.push_back(path);

    for (const std::string &candidate : candidates) {
        std::vector<RegFileValue> values;
        if (!find_key(keys, candidate, values)) continue;
        OpenKey *open = new (std::nothrow) OpenKey{std::move(values)};
        if (open == nullptr) return 8; // ERROR_NOT_ENOUGH_MEMORY
        *key = open;
        return kErrorSuccess;
    }
    return kErrorFileNotFound;
}

long reg_query_value(RegKey key, const char *name, std::uint32_t *type, unsigned char *data,
                     std::uint32_t *size) {
    if (key == nullptr || (data != nullptr && size == nullptr)) return kErrorInvalidParameter;
    const std::string wanted = name ? name : "";
    for (const RegFileValue &v : static_cast<OpenKey *>(key)->values) {
        if (!reg_name_equal(v.name, wanted)) continue;
        if (type) *type = v.type;
        if (size == nullptr) return kErrorSuccess;
        const auto needed = static_cast<std::uint32_t>(v.data.size());
        if (data != nullptr && *size < needed) {
            *size = needed;
            return kErrorMoreData;
        }
        if (data != nullptr) v.data.copy(reinterpret_cast<char *>(data), needed);
        *size = needed;
        return kErrorSuccess;
    }
    return kErrorFileNotFound;
}

long reg_close_key(RegKey key) {
    if (key == nullptr) return 6; // ERROR_INVALID_HANDLE
    delete static_cast<OpenKey *>(key);
    return kErrorSuccess;
}

} // namespace plat
