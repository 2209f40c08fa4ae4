// The terminal session on POSIX is the SSH session. A built-in module named "wtsapi32.dll" offers
// the two entry points of the Windows module: the client address is the first field of
// SSH_CONNECTION (else of SSH_CLIENT), the client name is that address text, and the family
// follows from the text. Outside an SSH session the client name is empty.
#include <arpa/inet.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/computer_name.h"
#include "platform/platform.h"
#include "platform/terminal_session.h"

namespace plat {

namespace {

constexpr std::uint32_t kErrorModNotFound = 126;  // ERROR_MOD_NOT_FOUND
constexpr std::uint32_t kErrorProcNotFound = 127; // ERROR_PROC_NOT_FOUND
constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kErrorNotEnoughMemory = 8;

char g_module_tag; // the address of this stands for the loaded module

std::string ssh_client_address() {
    std::string value;
    if (!get_env("SSH_CONNECTION", value) || value.empty()) {
        if (!get_env("SSH_CLIENT", value)) value.clear();
    }
    std::size_t start = value.find_first_not_of(' ');
    if (start == std::string::npos) return std::string();
    return value.substr(start, value.find(' ', start) - start);
}

int fail(std::uint32_t code) {
    set_last_error(code);
    return 0;
}

int query_session(void *, std::uint32_t, int infoClass, char **buffer, std::uint32_t *bytes) {
    if (buffer == nullptr || bytes == nullptr) return fail(kErrorInvalidParameter);
    *buffer = nullptr;
    *bytes = 0;
    std::string address = ssh_client_address();
    if (infoClass == WTSClientName) {
        char *name = static_cast<char *>(std::malloc(address.size() + 1));
        if (name == nullptr) return fail(kErrorNotEnoughMemory);
        std::memcpy(name, address.c_str(), address.size() + 1);
        *buffer = name;
        *bytes = static_cast<std::uint32_t>(address.size() + 1);
        return 1;
    }
    if (infoClass == WTSClientAddress) {
        auto *record = static_cast<WtsClientAddress *>(std::calloc(1, sizeof(WtsClientAddress)));
        if (record == nullptr) return fail(kErrorNotEnoughMemory);
        if (inet_pton(AF_INET, address.c_str(), record->Address + 2) == 1)
            record->AddressFamily = kWtsAfInet;
        else if (inet_pton(AF_INET6, address.c_str(), record->Address + 2) == 1)
            record->AddressFamily = kWtsAfInet6;
        else
            record->AddressFamily = kWtsAfUnspec; // no address, or one with a zone: resolve the name
        *buffer = reinterpret_cast<char *>(record);
        *bytes = sizeof(WtsClientAddress);
        return 1;
    }
    return fail(kErrorInvalidParameter);
}

void free_memory(void *memory) { std::free(memory); }

Module load(const char *name) {
    if (name != nullptr && std::strcmp(name, "wtsapi32.dll") == 0) return &g_module_tag;
    set_last_error(kErrorModNotFound);
    return nullptr;
}

void *symbol(Module module, const char *name) {
    if (module == &g_module_tag && name != nullptr) {
        if (std::strcmp(name, "WTSQuerySessionInformationA") == 0)
            return reinterpret_cast<void *>(&query_session);
        if (std::strcmp(name, "WTSFreeMemory") == 0) return reinterpret_cast<void *>(&free_memory);
    }
    set_last_error(kErrorProcNotFound);
    return nullptr;
}

} // namespace

const TerminalServices &system_terminal_services() {
    static const TerminalServices services{&load, &symbol};
    return services;
}

} // namespace plat
