// s_GetTSClient: the terminal session's client name, and the client's address as text. The address
// comes from the session when it reports a usable one; otherwise the client name is resolved.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/text.h"
#include "diag/error_state.h"
#include "diag/trace.h"
#include "net/resolver.h"
#include "net/socket_library.h"
#include "net/ts_client.h"
#include "platform/computer_name.h"
#include "platform/socket_types.h"
#include "platform/sockets.h"
#include "platform/terminal_session.h"

namespace {

constexpr std::size_t kTextCapacity = 128;

// The session data of the address query, released once with the module's own free.
class SessionData {
public:
    explicit SessionData(plat::WtsFreeMemory free) : free_(free) {}
    ~SessionData() { release(); }
    SessionData(const SessionData &) = delete;
    SessionData &operator=(const SessionData &) = delete;
    char **out() { return &data_; }
    const char *data() const { return data_; }
    void release() {
        if (data_ != nullptr) free_(data_);
        data_ = nullptr;
    }

private:
    plat::WtsFreeMemory free_;
    char *data_ = nullptr;
};

void trace_bytes(std::int32_t level, const unsigned char *bytes, std::uint32_t count) {
    for (std::uint32_t i = 0; i < count; ++i) ravlink_tracelog(level, "%x ", bytes[i]);
}

void empty_address(char *address, std::uint32_t *addressLength) {
    if (*addressLength > 0) address[0] = '\0';
    *addressLength = 0;
}

// The numeric text of a socket address into a buffer; the resolver's status (0 on success) is
// left as the sockets interface's last-error code.
bool numeric_text(const sockaddr *sa, socklen_t length, char *text, std::uint32_t capacity) {
    int status = s_getnameinfo(sa, length, text, capacity, nullptr, 0, NI_NUMERICHOST);
    plat::set_last_socket_error(status);
    return status == 0;
}

// Resolves the client name with a family and takes the first address as text. True when the
// address was obtained.
bool resolve_name(const char *name, std::uint32_t nameLength, char *address, std::uint32_t capacity,
                  std::uint32_t *addressLength, int family) {
    if (nameLength == 0) {
        empty_address(address, addressLength);
        return false;
    }
    if (!s_wsockstart()) {
        empty_address(address, addressLength);
        s_setError("Unable to initialize socket library", 0);
        return false;
    }
    bool obtained = false;
    addrinfo *list = s_getaddrinfo(name, nullptr, family, 0);
    if (list == nullptr) {
        s_setErrorf(static_cast<std::uint32_t>(plat::last_socket_error()),
                    "getaddrinfo(%s,NULL,%d,0) failed during s_GetTSClient().", name, family);
    } else {
        bool found = numeric_text(list->ai_addr, static_cast<socklen_t>(list->ai_addrlen), address, capacity);
        s_freeaddrinfo(list);
        if (!found) {
            empty_address(address, addressLength);
            s_setError("getnameinfo() failed.", static_cast<std::uint32_t>(plat::last_socket_error()));
        } else {
            *addressLength = static_cast<std::uint32_t>(std::strlen(address));
            obtained = true;
        }
    }
    s_wsacleanup();
    return obtained;
}

// What became of an IPv6 address text.
enum class Taken {
    Kept,
    TooLong,
    Unspecified, // the session's unspecified address: the caller resolves the name instead
};

Taken take_ipv6_text(const char *text, bool fromSession, char *address, std::uint32_t capacity,
                   std::uint32_t *addressLength, SessionData &session) {
    ravlink_tracelog(1, "WTSClientAddress returned address string = %s\n", text);
    std::size_t length = std::strlen(text);
    if (length >= capacity) {
        *addressLength = static_cast<std::uint32_t>(length + 1);
        if (capacity > 0) address[0] = '\0';
        session.release();
        ravlink_tracelog(1, "WTSClientAddress returned address string too long.\n");
        return Taken::TooLong;
    }
    std::memcpy(address, text, length + 1);
    *addressLength = static_cast<std::uint32_t>(length);
    if (fromSession && std::strcmp(text, "::") == 0) return Taken::Unspecified;
    session.release();
    return Taken::Kept;
}

// The session's IPv6 address was no use: resolve the client name in IPv6 and take its first
// address. An unspecified address found this way is kept as it is. True when an address was kept.
bool ipv6_from_name(const char *name, char *address, std::uint32_t capacity, std::uint32_t *addressLength,
                   SessionData &session) {
    ravlink_tracelog(5, "getnameinfo failed, WSAGetLastError = %d\n", plat::last_socket_error());
    addrinfo *list = s_getaddrinfo(name, nullptr, AF_INET6, AI_CANONNAME);
    if (list == nullptr) {
        s_setError("getaddrinfo()2 failed during s_GetTSClient().",
                   static_cast<std::uint32_t>(plat::last_socket_error()));
    } else {
        ravlink_tracelog(1, "Using address from CliName, canonname = %s\n",
                         list->ai_canonname != nullptr ? list->ai_canonname : "");
        char text[kTextCapacity];
        bool found = numeric_text(list->ai_addr, static_cast<socklen_t>(list->ai_addrlen), text, sizeof text);
        s_freeaddrinfo(list);
        if (found) return take_ipv6_text(text, false, address, capacity, addressLength, session) == Taken::Kept;
    }
    empty_address(address, addressLength);
    session.release();
    ravlink_tracelog(5, "getnameinfo failed with address from CliName, WSAGetLastError = %d\n",
                     plat::last_socket_error());
    return false;
}

// The session's IPv6 address, else the client name's. True when an address was kept.
bool ipv6_address(const plat::WtsClientAddress &record, const char *name, char *address, std::uint32_t capacity,
                 std::uint32_t *addressLength, SessionData &session) {
    ravlink_tracelog(1, "IPV6 address returned for WTSClientAddress ");
    trace_bytes(1, record.Address, sizeof record.Address);
    ravlink_tracelog(1, "\n");
    sockaddr_in6 sa{};
    sa.sin6_family = AF_INET6;
    std::memcpy(&sa.sin6_addr, record.Address + 2, 16);
    char text[kTextCapacity];
    if (numeric_text(reinterpret_cast<const sockaddr *>(&sa), sizeof sa, text, sizeof text)) {
        Taken taken = take_ipv6_text(text, true, address, capacity, addressLength, session);
        if (taken != Taken::Unspecified) return taken == Taken::Kept;
    }
    return ipv6_from_name(name, address, capacity, addressLength, session);
}

} // namespace

int s_GetTSClient(char *name, std::uint32_t *nameLength, char *address, std::uint32_t *addressLength) {
    const plat::TerminalServices &services = plat::terminal_services();
    plat::Module module = services.load("wtsapi32.dll");
    if (module == nullptr) {
        s_setError("Could not load wtsapi32.dll", plat::last_error());
        return 1;
    }
    auto query = reinterpret_cast<plat::WtsQuerySessionInformationA>(
        services.symbol(module, "WTSQuerySessionInformationA"));
    if (query == nullptr) {
        s_setError("Could not GetProcAddress(WTSQuerySessionInformationA)", plat::last_error());
        return 1;
    }
    auto free_memory = reinterpret_cast<plat::WtsFreeMemory>(services.symbol(module, "WTSFreeMemory"));
    if (free_memory == nullptr) {
        s_setError("Could not GetProcAddress(WTSFreeMemory", plat::last_error());
        return 1;
    }

    const std::uint32_t capacity = *addressLength;

    // The client name.
    if (*nameLength > 0) name[0] = '\0';
    {
        SessionData session(free_memory);
        std::uint32_t bytes = 0;
        if (!query(plat::WTS_CURRENT_SERVER_HANDLE, plat::WTS_CURRENT_SESSION, plat::WTSClientName,
                   session.out(), &bytes)) {
            *nameLength = 0;
            s_setError("Could not obtain terminal server client name.", plat::last_error());
            return 1;
        }
        if (session.data() == nullptr) {
            *nameLength = 0;
            return 1;
        }
        if (bytes > *nameLength) {
            s_setError("Terminal server client name buffer too small.", 0);
            return 1;
        }
        if (bytes < 2) { // an empty name: no terminal-session client
            *nameLength = 0;
            return 1;
        }
        std::size_t length = strnlen(session.data(), bytes);
        if (length >= *nameLength) length = *nameLength - 1;
        std::memcpy(name, session.data(), length);
        name[length] = '\0';
        *nameLength = static_cast<std::uint32_t>(length);
    }

    // The client address.
    SessionData session(free_memory);
    std::uint32_t bytes = 0;
    if (!query(plat::WTS_CURRENT_SERVER_HANDLE, plat::WTS_CURRENT_SESSION, plat::WTSClientAddress,
               session.out(), &bytes)) {
        s_setError("could not get client address, reason = ", plat::last_error());
        return 1;
    }
    // A short or missing record reads as family 0 (no address): the name is resolved.
    plat::WtsClientAddress record{};
    if (session.data() != nullptr)
        std::memcpy(&record, session.data(), bytes < sizeof record ? bytes : sizeof record);
    const auto *raw = reinterpret_cast<const unsigned char *>(session.data());
    std::uint32_t rawCount = raw != nullptr ? bytes : 0;
    if (QXNTracefileLogLevel <= 1) {
        ravlink_tracelog(1, "WTSClientAddress returned true, nBytes = %d.\n", static_cast<int>(bytes));
        trace_bytes(1, raw, rawCount);
        ravlink_tracelog(1, "WTSClientAddress returned AddressFamily = %d.\n",
                         static_cast<int>(record.AddressFamily));
    }

    switch (record.AddressFamily) {
    case plat::kWtsAfInet: {
        char text[16];
        std::snprintf(text, sizeof text, "%u.%u.%u.%u", record.Address[2], record.Address[3], record.Address[4],
                      record.Address[5]);
        std::size_t length = std::strlen(text);
        if (length >= capacity) {
            s_setError("Terminal server client name buffer too small.", 0);
            return 1;
        }
        std::memcpy(address, text, length + 1);
        *addressLength = static_cast<std::uint32_t>(length);
        if (std::strcmp(text, "0.0.0.0") != 0) return 0;
        ravlink_tracelog(5,
                         "IPV4 address returned for WTSClientAddress:  Len = %d, value = %s, namelen = %x, "
                         "*namelen = %d\n",
                         static_cast<int>(*addressLength), address, core::low32(nameLength),
                         static_cast<int>(*nameLength));
        session.release();
        return resolve_name(name, *nameLength, address, capacity, addressLength, AF_INET) ? 0 : 1;
    }
    case plat::kWtsAfInet6:
        return ipv6_address(record, name, address, capacity, addressLength, session) ? 0 : 1;
    case plat::kWtsAfUnspec:
        if (QXNTracefileLogLevel <= 5) {
            ravlink_tracelog(5, "WTSClientAddress returned true, but address family is 0, pbuf contains:\n   ");
            trace_bytes(5, raw, rawCount);
        }
        session.release();
        return resolve_name(name, *nameLength, address, capacity, addressLength, AF_UNSPEC) ? 0 : 1;
    default:
        ravlink_tracelog(5, "WTSClientAddress returned unexpected address family (%d) NOT ipv4 or ipv6\n",
                         static_cast<int>(record.AddressFamily));
        return 1;
    }
}
