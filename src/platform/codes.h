// Codes that are part of the library's contract: the same numbers on every platform.
#pragma once

#include <cstdint>

namespace codes {

constexpr std::uint32_t kNoMemory = 8;          // ERROR_NOT_ENOUGH_MEMORY
constexpr int kWsaInterrupted = 10004;          // WSAEINTR
constexpr int kWsaBadFile = 10009;              // WSAEBADF
constexpr int kWsaAccess = 10013;               // WSAEACCES
constexpr int kWsaFault = 10014;                // WSAEFAULT
constexpr int kWsaInvalid = 10022;              // WSAEINVAL
constexpr int kWsaTooManyFiles = 10024;         // WSAEMFILE
constexpr int kWsaWouldBlock = 10035;           // WSAEWOULDBLOCK
constexpr int kWsaInProgress = 10036;           // WSAEINPROGRESS
constexpr int kWsaAlready = 10037;              // WSAEALREADY
constexpr int kWsaNotSocket = 10038;            // WSAENOTSOCK
constexpr int kWsaMsgSize = 10040;              // WSAEMSGSIZE
constexpr int kWsaNoProtoOpt = 10042;           // WSAENOPROTOOPT
constexpr int kWsaProtoNotSupported = 10043;    // WSAEPROTONOSUPPORT
constexpr int kWsaSocktNotSupported = 10044;    // WSAESOCKTNOSUPPORT
constexpr int kWsaOpNotSupported = 10045;       // WSAEOPNOTSUPP
constexpr int kWsaAfNotSupported = 10047;       // WSAEAFNOSUPPORT
constexpr int kWsaAddrInUse = 10048;            // WSAEADDRINUSE
constexpr int kWsaAddrNotAvail = 10049;         // WSAEADDRNOTAVAIL
constexpr int kWsaNetDown = 10050;              // WSAENETDOWN
constexpr int kWsaNetUnreach = 10051;           // WSAENETUNREACH
constexpr int kWsaNetReset = 10052;             // WSAENETRESET
constexpr int kWsaConnAborted = 10053;          // WSAECONNABORTED
constexpr int kWsaConnReset = 10054;            // WSAECONNRESET
constexpr int kWsaNoBufs = 10055;               // WSAENOBUFS
constexpr int kWsaIsConn = 10056;               // WSAEISCONN
constexpr int kWsaNotConn = 10057;              // WSAENOTCONN
constexpr int kWsaShutdown = 10058;             // WSAESHUTDOWN
constexpr int kWsaTimedOut = 10060;             // WSAETIMEDOUT
constexpr int kWsaConnRefused = 10061;          // WSAECONNREFUSED
constexpr int kWsaNameTooLong = 10063;          // WSAENAMETOOLONG
constexpr int kWsaHostDown = 10064;             // WSAEHOSTDOWN
constexpr int kWsaHostUnreach = 10065;          // WSAEHOSTUNREACH
constexpr int kWsaNotInitialised = 10093;       // WSANOTINITIALISED
constexpr int kWsaTryAgain = 11002;             // WSATRY_AGAIN
constexpr int kWsaHostNotFound = 11001;         // WSAHOST_NOT_FOUND
constexpr int kWsaNoRecovery = 11003;           // WSANO_RECOVERY
constexpr int kWsaNoData = 11004;               // WSANO_DATA
constexpr int kWsaTypeNotFound = 10109;         // WSATYPE_NOT_FOUND

} // namespace codes
