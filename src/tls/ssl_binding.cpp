// Binding OpenSSL at run time: locating libssl and libcrypto, resolving the entry-point table
// by name, the one-time initialisation and the thread-locking callbacks.
//
// Every entry point is looked up by its 1.0 name and, failing that, by the name of its
// successor in later series. What OpenSSL 1.1 and later do for themselves (library
// initialisation, thread locking) is neither required nor called there.
#include "tls/openssl_api.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "diag/error_state.h"
#include "diag/trace.h"
#include "platform/kernel_mutex.h"
#include "platform/modules.h"
#include "platform/platform.h"
#include "tls/ssl_write_bio.h"

namespace ossl {
Api api{};

struct DynlockValue {
    plat::MutexHandle mutex;
};
} // namespace ossl

std::atomic<std::int32_t> tlsReady{0};

namespace {

using ossl::api;
using ossl::Api;
using ossl::Series;

enum class Lib { Ssl, Crypto };

struct Entry {
    Lib lib;
    const char *name;      // the 1.0 name
    const char *successor; // its name in later series, or null
    std::size_t slot;      // offset of the pointer in Api
    bool selfServed;       // done by OpenSSL itself from 1.1 on: not needed there
};

#define RAVLINK_ENTRY(lib, name, successor, selfServed) \
    Entry { Lib::lib, #name, successor, offsetof(Api, name), selfServed }

// The required entry points, in the order in which they are resolved. Some are bound but never
// called (server methods, SSL_accept, the cipher and certificate-name accessors, DH, OPENSSL_config,
// ...): the binding still demands them, so that exactly the OpenSSL builds that were always
// accepted are accepted, and a build without one fails with the message naming it.
const Entry kEntries[] = {
    RAVLINK_ENTRY(Ssl, SSL_CTX_check_private_key, nullptr, false),
    RAVLINK_ENTRY(Ssl, SSL_CTX_ctrl, nullptr, false),
    RAVLINK_ENTRY(Ssl, SSL_CTX_free, nullptr, false),
    RAVLINK_ENTRY(Ssl, SSL_CTX_load_verify_locations, nullptr, false),
    RAVLINK_ENTRY(Ssl, SSL_CTX_new, nullptr, false),
    RAVLINK_ENTRY(Ssl, SSL_CTX_set_cipher_list, nullptr, false),
    RAVLINK_ENTRY(Ssl, SSL_CTX_set_default_passwd_cb, nullptr, false),
    RAVLINK_ENTRY(Ssl, SSL_CTX_set_default_passwd_cb_userdata, nullptr, false),
    RAVLINK_ENTRY(Ssl, SSL_CTX_set_tmp_dh_callback, nullptr, false),
    RAVLINK_ENTRY(Ssl, SSL_CTX_set_verify, nullptr, false),
    RAVLINK_ENTRY(Ssl, SSL_CTX_set_verify_depth, nullptr, false),
    RAVLINK_ENTRY(Ssl, SSL_CTX_use_certificate_chain_file, nullptr, false),
    RAVLINK_ENTRY(Ssl, SSL_CTX_use_PrivateKey_file, nullptr, false),
    RAVLINK_ENTRY(Ssl, SSL_CTX_use_RSAPrivateKey_file, nullptr, false),
    RAVLINK_ENTRY(Ssl, SSL_accept, nullptr, false),
    RAVLINK_ENTRY(Ssl, SSL_connect, nullptr, false),
    RAVLINK_ENTRY(Ssl, SSL_free, nullptr, false),
    RAVLINK_ENTRY(Ssl, SSL_get_cipher_list, nullptr, false),
    RAVLINK_ENTRY(Ssl, SSL_get_current_cipher, nullptr, false),
    RAVLINK_ENTRY(Ssl, SSL_get_error, nullptr, false),
    RAVLINK_ENTRY(Ssl, SSL_get_peer_certificate, "SSL_get1_peer_certificate", false),
    RAVLINK_ENTRY(Ssl, SSL_get_verify_result, nullptr, false),
    RAVLINK_ENTRY(Ssl, SSL_library_init, nullptr, true),
    RAVLINK_ENTRY(Ssl, SSL_load_error_strings, nullptr, true),
    RAVLINK_ENTRY(Ssl, SSL_new, nullptr, false),
    RAVLINK_ENTRY(Ssl, SSL_read, nullptr, false),
    RAVLINK_ENTRY(Ssl, SSL_set_bio, nullptr, false),
    RAVLINK_ENTRY(Ssl, SSL_shutdown, nullptr, false),
    RAVLINK_ENTRY(Ssl, SSL_write, nullptr, false),
    RAVLINK_ENTRY(Ssl, SSL_CIPHER_get_bits, nullptr, false),
    RAVLINK_ENTRY(Ssl, SSL_CIPHER_get_name, nullptr, false),
    RAVLINK_ENTRY(Ssl, SSL_CIPHER_get_version, nullptr, false),
    RAVLINK_ENTRY(Ssl, SSLv3_server_method, "TLS_server_method", false),
    RAVLINK_ENTRY(Ssl, SSLv3_client_method, "TLS_client_method", false),
    RAVLINK_ENTRY(Ssl, SSLv23_server_method, "TLS_server_method", false),
    RAVLINK_ENTRY(Ssl, SSLv23_client_method, "TLS_client_method", false),
    RAVLINK_ENTRY(Ssl, TLSv1_server_method, "TLS_server_method", false),
    RAVLINK_ENTRY(Ssl, TLSv1_client_method, "TLS_client_method", false),
    RAVLINK_ENTRY(Ssl, SSL_CTX_set_client_CA_list, nullptr, false),
    RAVLINK_ENTRY(Ssl, SSL_load_client_CA_file, nullptr, false),

    RAVLINK_ENTRY(Crypto, BIO_int_ctrl, nullptr, false),
    RAVLINK_ENTRY(Crypto, BIO_new, nullptr, false),
    RAVLINK_ENTRY(Crypto, BIO_s_socket, nullptr, false),
    RAVLINK_ENTRY(Crypto, ERR_get_error, nullptr, false),
    RAVLINK_ENTRY(Crypto, ERR_error_string, nullptr, false),
    RAVLINK_ENTRY(Crypto, i2d_X509, nullptr, false),
    RAVLINK_ENTRY(Crypto, X509_free, nullptr, false),
    RAVLINK_ENTRY(Crypto, X509_get_ext_d2i, nullptr, false),
    RAVLINK_ENTRY(Crypto, X509_get_issuer_name, nullptr, false),
    RAVLINK_ENTRY(Crypto, X509_get_subject_name, nullptr, false),
    RAVLINK_ENTRY(Crypto, X509_verify_cert_error_string, nullptr, false),
    RAVLINK_ENTRY(Crypto, X509_NAME_get_text_by_NID, nullptr, false),
    RAVLINK_ENTRY(Crypto, X509_NAME_oneline, nullptr, false),
    RAVLINK_ENTRY(Crypto, X509_STORE_CTX_get_current_cert, nullptr, false),
    RAVLINK_ENTRY(Crypto, X509_STORE_CTX_get_error, nullptr, false),
    RAVLINK_ENTRY(Crypto, X509_STORE_CTX_get_error_depth, nullptr, false),
    RAVLINK_ENTRY(Crypto, GENERAL_NAMES_free, nullptr, false),
    RAVLINK_ENTRY(Crypto, BN_bin2bn, nullptr, false),
    RAVLINK_ENTRY(Crypto, DH_new, nullptr, false),
    RAVLINK_ENTRY(Crypto, OBJ_txt2nid, nullptr, false),
    RAVLINK_ENTRY(Crypto, CRYPTO_num_locks, nullptr, true),
    RAVLINK_ENTRY(Crypto, CRYPTO_set_id_callback, nullptr, true),
    RAVLINK_ENTRY(Crypto, CRYPTO_set_locking_callback, nullptr, true),
    RAVLINK_ENTRY(Crypto, CRYPTO_set_dynlock_create_callback, nullptr, true),
    RAVLINK_ENTRY(Crypto, CRYPTO_set_dynlock_lock_callback, nullptr, true),
    RAVLINK_ENTRY(Crypto, CRYPTO_set_dynlock_destroy_callback, nullptr, true),
    RAVLINK_ENTRY(Crypto, sk_num, "OPENSSL_sk_num", false),
    RAVLINK_ENTRY(Crypto, sk_value, "OPENSSL_sk_value", false),
    RAVLINK_ENTRY(Crypto, ASN1_STRING_data, "ASN1_STRING_get0_data", false),
    RAVLINK_ENTRY(Crypto, ASN1_STRING_length, nullptr, false),
    RAVLINK_ENTRY(Crypto, OPENSSL_config, nullptr, false),
};

#undef RAVLINK_ENTRY

// Entry points used when the loaded series has them; a missing one only leaves its slot null.
#define RAVLINK_OPTIONAL(lib, name) \
    Entry { Lib::lib, #name, nullptr, offsetof(Api, name), false }
const Entry kOptional[] = {
    RAVLINK_OPTIONAL(Ssl, SSL_ctrl),
    RAVLINK_OPTIONAL(Ssl, SSL_get0_param),
    RAVLINK_OPTIONAL(Ssl, SSL_CTX_up_ref),
    RAVLINK_OPTIONAL(Crypto, OPENSSL_init_crypto),
    RAVLINK_OPTIONAL(Crypto, OPENSSL_atexit),
    RAVLINK_OPTIONAL(Crypto, X509_VERIFY_PARAM_set1_host),
    RAVLINK_OPTIONAL(Crypto, X509_VERIFY_PARAM_set1_ip_asc),
    RAVLINK_OPTIONAL(Crypto, X509_VERIFY_PARAM_set_hostflags),
    RAVLINK_OPTIONAL(Crypto, BIO_meth_new),
    RAVLINK_OPTIONAL(Crypto, BIO_meth_set_write),
    RAVLINK_OPTIONAL(Crypto, BIO_meth_set_ctrl),
    RAVLINK_OPTIONAL(Crypto, BIO_set_data),
    RAVLINK_OPTIONAL(Crypto, BIO_get_data),
    RAVLINK_OPTIONAL(Crypto, BIO_set_init),
    RAVLINK_OPTIONAL(Crypto, BIO_set_flags),
    RAVLINK_OPTIONAL(Crypto, BIO_clear_flags),
    RAVLINK_OPTIONAL(Crypto, BIO_free),
    RAVLINK_OPTIONAL(Crypto, BIO_number_written),
};
#undef RAVLINK_OPTIONAL

// The file names of libssl and libcrypto, newest series first after the 1.0 pair.
struct LibraryPair {
    const char *ssl;
    const char *crypto;
};
#ifdef _WIN32
const LibraryPair kPairs[] = {{"ssleay32.dll", "libeay32.dll"},
                              {"libssl-3-x64.dll", "libcrypto-3-x64.dll"},
                              {"libssl-1_1-x64.dll", "libcrypto-1_1-x64.dll"}};
#else
const LibraryPair kPairs[] = {{"libssl.so.3", "libcrypto.so.3"}, {"libssl.so.1.1", "libcrypto.so.1.1"}};
#endif

constexpr int kPointerBits = static_cast<int>(sizeof(void *) * 8);

void store(std::size_t slot, void *symbol) {
    std::memcpy(reinterpret_cast<unsigned char *>(&api) + slot, &symbol, sizeof symbol);
}

void *lookup(plat::Module module, const char *name, const char *successor) {
    void *symbol = plat::module_symbol(module, name);
    if (symbol == nullptr && successor != nullptr) symbol = plat::module_symbol(module, successor);
    return symbol;
}

// Records and traces a missing entry point (and the library's version when known).
void report_missing_symbol(const char *name, std::uint32_t code) {
    char text[512];
    std::snprintf(text, sizeof text, "SSL/TLS unavailable.  Error (%d) resolving library symbol: %s\n",
                  static_cast<int>(code), name);
    s_appendError(text, 0);
    ravlink_tracelog(32, "%s", text);
    const char *version = api.SSLeay_version != nullptr ? api.SSLeay_version(0) : nullptr;
    if (version != nullptr) {
        std::snprintf(text, sizeof text, "Library version:  %s\n", version);
        s_appendError(text, 0);
        ravlink_tracelog(32, "%s", text);
    }
}

// Resolves the required entry points of one library; false after reporting the first missing one.
bool resolve(Lib lib, plat::Module module) {
    for (const Entry &e : kEntries) {
        if (e.lib != lib) continue;
        void *symbol = lookup(module, e.name, e.successor);
        if (symbol == nullptr && !(e.selfServed && api.series != Series::V1_0)) {
            report_missing_symbol(e.name, plat::last_error());
            return false;
        }
        store(e.slot, symbol);
    }
    return true;
}

// ---- Thread locking (1.0 series) ----

plat::MutexHandle *lockTable = nullptr;

unsigned long s_threadId() { return plat::thread_id(); }

void s_lockCallback(int mode, int n, const char *, int) {
    if (mode & ossl::kLockRequest)
        plat::wait_mutex(lockTable[n]);
    else
        plat::release_mutex(lockTable[n]);
}

ossl::DynlockValue *s_dynlockCreate(const char *, int) {
    auto *cell = static_cast<ossl::DynlockValue *>(std::malloc(sizeof(ossl::DynlockValue)));
    if (cell == nullptr) return nullptr;
    cell->mutex = plat::create_mutex();
    return cell;
}

void s_dynlockLock(int mode, ossl::DynlockValue *cell, const char *, int) {
    if (mode & ossl::kLockRequest)
        plat::wait_mutex(cell->mutex);
    else
        plat::release_mutex(cell->mutex);
}

void s_dynlockDestroy(ossl::DynlockValue *cell, const char *, int) {
    plat::close_mutex(cell->mutex);
    std::free(cell);
}

} // namespace

int s_loadSSLlibraries(bool *hostLoaded) {
    *hostLoaded = false;
    // Beside the library's own file first, every series in turn; then a copy found by name (on
    // Windows only one that the host has loaded, never a file from the working folder or PATH).
    plat::Module ssl = nullptr;
    const LibraryPair *pair = nullptr;
    std::string firstPath;
    std::uint32_t firstError = 0;
    for (int byName = 0; byName < 2 && ssl == nullptr; ++byName) {
        for (const LibraryPair &p : kPairs) {
            std::string path;
            ssl = byName ? plat::load_by_name(p.ssl, hostLoaded) : plat::load_beside_library(p.ssl, hostLoaded, &path);
            if (ssl != nullptr) {
                pair = &p;
                break;
            }
            if (!byName && &p == kPairs) {
                firstPath = path;
                firstError = plat::last_error();
            }
        }
    }
    if (ssl == nullptr) {
        ravlink_tracelog(32, "%d-bit SSL/TLS unavailable.  Error (%d) loading %s.\n", kPointerBits,
                         static_cast<int>(firstError), firstPath.c_str());
        return 0;
    }

    // Later series initialise themselves; 3.x sets options through a function of its own.
    if (plat::module_symbol(ssl, "OPENSSL_init_ssl") == nullptr)
        api.series = Series::V1_0;
    else
        api.series = plat::module_symbol(ssl, "SSL_CTX_set_options") != nullptr ? Series::V3 : Series::V1_1;
    store(offsetof(Api, SSL_CTX_set_options),
          api.series == Series::V3 ? plat::module_symbol(ssl, "SSL_CTX_set_options") : nullptr);

    store(offsetof(Api, SSLeay_version), lookup(ssl, "SSLeay_version", "OpenSSL_version"));
    if (!resolve(Lib::Ssl, ssl)) return 0;
    store(offsetof(Api, SSL_get_wbio), plat::module_symbol(ssl, "SSL_get_wbio"));

    // libcrypto from the folder of the libssl taken: the copy that libssl itself uses.
    std::string cryptoPath;
    plat::Module crypto = plat::load_beside_module(ssl, pair->crypto, nullptr, &cryptoPath);
    if (crypto == nullptr) {
        ravlink_tracelog(32, "%d-bit SSL/TLS unavailable.  Error (%d) loading %s\n", kPointerBits,
                         static_cast<int>(plat::last_error()), cryptoPath.c_str());
        return 0;
    }
    if (api.SSLeay_version == nullptr)
        store(offsetof(Api, SSLeay_version), lookup(crypto, "SSLeay_version", "OpenSSL_version"));
    if (!resolve(Lib::Crypto, crypto)) return 0;
    for (const Entry &e : kOptional) store(e.slot, plat::module_symbol(e.lib == Lib::Ssl ? ssl : crypto, e.name));
    store(offsetof(Api, CRYPTO_get_locking_callback), plat::module_symbol(crypto, "CRYPTO_get_locking_callback"));
    return 1;
}

int s_setSSLlocking() {
    // A host that runs OpenSSL itself has installed callbacks of its own: they stay.
    if (api.CRYPTO_get_locking_callback != nullptr && api.CRYPTO_get_locking_callback() != nullptr) return 1;
    int count = api.CRYPTO_num_locks();
    lockTable = static_cast<plat::MutexHandle *>(std::calloc(count > 0 ? count : 1, sizeof(plat::MutexHandle)));
    if (lockTable == nullptr) return 0;
    for (int i = 0; i < api.CRYPTO_num_locks(); ++i) lockTable[i] = plat::create_mutex();
    // OpenSSL keeps these pointers into the library until the process ends: the library stays
    // loaded as long, even when the host unloads it.
    plat::pin_library();
    api.CRYPTO_set_id_callback(s_threadId);
    api.CRYPTO_set_locking_callback(s_lockCallback);
    api.CRYPTO_set_dynlock_create_callback(s_dynlockCreate);
    api.CRYPTO_set_dynlock_lock_callback(s_dynlockLock);
    api.CRYPTO_set_dynlock_destroy_callback(s_dynlockDestroy);
    return 1;
}

int s_initSSL() {
    plat::LibraryLock lock;
    bool hostLoaded = false;
    if (tlsReady == 0 && s_loadSSLlibraries(&hostLoaded) == 1) {
        if (api.series == Series::V1_0) {
            if (!hostLoaded) {
                api.SSL_library_init();
                api.SSL_load_error_strings();
            }
            if (s_setSSLlocking() != 0 || hostLoaded) tlsReady = 1;
        } else {
            // 1.1 and later initialise and lock for themselves.
            s_makeWriteMethod();
            tlsReady = 1;
        }
    }
    return tlsReady;
}
