// A BIO method with a write and a control function only: writes go through the platform's
// send, which never raises a signal, and a send that would block asks OpenSSL to retry, as
// OpenSSL's socket BIO does.
#include "tls/ssl_write_bio.h"

#include <cstdint>

#include "platform/codes.h"
#include "platform/sockets.h"
#include "platform/system_error.h"

namespace {

using ossl::api;

// OpenSSL's constants, the same in every series that has BIO methods.
constexpr int kTypeSocket = 5 | 0x0400 | 0x0100; // BIO_TYPE_SOCKET: a descriptor, a source and sink
constexpr int kFlagsRetryWrite = 0x02 | 0x08;    // BIO_FLAGS_WRITE | BIO_FLAGS_SHOULD_RETRY
constexpr int kFlagsRetryAll = 0x07 | 0x08;      // BIO_FLAGS_RWS | BIO_FLAGS_SHOULD_RETRY
constexpr int kCtrlFlush = 11;                   // BIO_CTRL_FLUSH
constexpr int kCtrlDup = 12;                     // BIO_CTRL_DUP
constexpr int kGetFd = 105;                      // BIO_C_GET_FD

ossl::BIO_METHOD *writeMethod = nullptr;

plat::socket_t socket_of(ossl::BIO *bio) {
    return static_cast<plat::socket_t>(reinterpret_cast<std::uintptr_t>(api.BIO_get_data(bio)));
}

int write_cb(ossl::BIO *bio, const char *data, int length) {
    plat::clear_system_error();
    int n = plat::send_bytes(socket_of(bio), data, length);
    api.BIO_clear_flags(bio, kFlagsRetryAll);
    if (n < 0) {
        int code = plat::last_socket_error();
        if (code == codes::kWsaWouldBlock || code == codes::kWsaInProgress) api.BIO_set_flags(bio, kFlagsRetryWrite);
    }
    return n;
}

long ctrl_cb(ossl::BIO *bio, int command, long, void *out) {
    switch (command) {
    case kCtrlFlush:
    case kCtrlDup:
        return 1;
    case kGetFd: {
        auto fd = static_cast<int>(socket_of(bio));
        if (out != nullptr) *static_cast<int *>(out) = fd;
        return fd;
    }
    default:
        return 0;
    }
}

} // namespace

void s_makeWriteMethod() {
    if (!plat::writes_can_raise_sigpipe() || writeMethod != nullptr || api.BIO_meth_new == nullptr || api.BIO_meth_set_write == nullptr ||
        api.BIO_meth_set_ctrl == nullptr || api.BIO_set_data == nullptr || api.BIO_get_data == nullptr ||
        api.BIO_set_init == nullptr || api.BIO_set_flags == nullptr || api.BIO_clear_flags == nullptr ||
        api.BIO_free == nullptr)
        return;
    ossl::BIO_METHOD *method = api.BIO_meth_new(kTypeSocket, "ravlink socket writes");
    if (method == nullptr) return;
    api.BIO_meth_set_write(method, write_cb);
    api.BIO_meth_set_ctrl(method, ctrl_cb);
    writeMethod = method; // lives as long as the process, as OpenSSL's own methods do
}

bool s_writesRaiseNoSignal() { return writeMethod != nullptr; }

ossl::BIO *s_newWriteBio(plat::socket_t socket) {
    if (writeMethod == nullptr) return nullptr;
    ossl::BIO *bio = api.BIO_new(writeMethod);
    if (bio == nullptr) return nullptr;
    api.BIO_set_data(bio, reinterpret_cast<void *>(static_cast<std::uintptr_t>(socket)));
    api.BIO_set_init(bio, 1);
    return bio;
}
