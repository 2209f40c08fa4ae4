// Maps errno and resolver codes to Winsock numbers, so that codes are the same on every platform.
#include "platform/posix/socket_errors.h"

#include <netdb.h>

#include <cerrno>

#include "platform/codes.h"

namespace plat::posix {

int wsa_from_errno(int err) {
    using namespace codes;
    switch (err) {
    case 0: return 0;
    case EINTR: return kWsaInterrupted;
    case EBADF: return kWsaNotSocket;
    case EACCES: case EPERM: return kWsaAccess;
    case EFAULT: return kWsaFault;
    case EINVAL: return kWsaInvalid;
    case EMFILE: case ENFILE: return kWsaTooManyFiles;
    case EAGAIN: return kWsaWouldBlock;
    case EINPROGRESS: return kWsaWouldBlock; // a non-blocking connect under way, as Winsock says it
    case EALREADY: return kWsaAlready;
    case ENOTSOCK: return kWsaNotSocket;
    case EMSGSIZE: return kWsaMsgSize;
    case ENOPROTOOPT: return kWsaNoProtoOpt;
    case EPROTONOSUPPORT: return kWsaProtoNotSupported;
    case EOPNOTSUPP: return kWsaOpNotSupported;
    case EAFNOSUPPORT: return kWsaAfNotSupported;
    case EADDRINUSE: return kWsaAddrInUse;
    case EADDRNOTAVAIL: return kWsaAddrNotAvail;
    case ENETDOWN: return kWsaNetDown;
    case ENETUNREACH: return kWsaNetUnreach;
    case ENETRESET: return kWsaNetReset;
    case ECONNABORTED: return kWsaConnAborted;
    case ECONNRESET: return kWsaConnReset;
    case EPIPE: return kWsaConnReset; // a write after the peer reset the connection
    case ENOBUFS: case ENOMEM: return kWsaNoBufs;
    case EISCONN: return kWsaIsConn;
    case ENOTCONN: return kWsaNotConn;
    case ESHUTDOWN: return kWsaShutdown;
    case ETIMEDOUT: return kWsaTimedOut;
    case ECONNREFUSED: return kWsaConnRefused;
    case ENAMETOOLONG: return kWsaNameTooLong;
    case EHOSTDOWN: return kWsaHostDown;
    case EHOSTUNREACH: return kWsaHostUnreach;
    default: return kWsaInvalid;
    }
}

int wsa_from_eai(int eai, int saved_errno) {
    using namespace codes;
    switch (eai) {
    case 0: return 0;
    case EAI_AGAIN: return kWsaTryAgain;
    case EAI_BADFLAGS: return kWsaInvalid;
    case EAI_FAIL: return kWsaNoRecovery;
    case EAI_FAMILY: return kWsaAfNotSupported;
    case EAI_MEMORY: return static_cast<int>(kNoMemory);
    case EAI_NONAME: return kWsaHostNotFound;
#ifdef EAI_NODATA
    case EAI_NODATA: return kWsaNoData;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY: return kWsaNoData;
#endif
    case EAI_SERVICE: return kWsaTypeNotFound;
    case EAI_SOCKTYPE: return kWsaSocktNotSupported;
    case EAI_OVERFLOW: return kWsaFault;
    case EAI_SYSTEM: return wsa_from_errno(saved_errno);
    default: return kWsaNoRecovery;
    }
}

} // namespace plat::posix
