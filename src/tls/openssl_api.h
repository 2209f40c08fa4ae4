// The OpenSSL entry points the TLS layer binds at run time, by name, in the shapes of OpenSSL's
// 1.0 interface. OpenSSL's headers are not used: its objects stay opaque here.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace ossl {

struct SSL_CTX;
struct SSL;
struct SSL_METHOD;
struct BIO;
struct BIO_METHOD;
struct X509;
struct X509_NAME;
struct X509_STORE_CTX;
struct X509_VERIFY_PARAM;
struct DynlockValue; // OpenSSL's CRYPTO_dynlock_value: the library's own cell

using PasswordCallback = int (*)(char *buffer, int size, int rwflag, void *userdata);
using VerifyCallback = int (*)(int preverify, X509_STORE_CTX *store);

// The OpenSSL series that was bound: option numbers and what OpenSSL does for itself differ.
enum class Series { V1_0, V1_1, V3 };

// Constants that are the same in every series.
constexpr int kCtrlOptions = 32;        // SSL_CTRL_OPTIONS (1.0 and 1.1; 3.x has a function)
constexpr int kCtrlMode = 33;           // SSL_CTRL_MODE
constexpr long kModeAutoRetry = 4;      // SSL_MODE_AUTO_RETRY
constexpr int kFiletypePem = 1;         // SSL_FILETYPE_PEM
constexpr int kBioSetFd = 104;          // BIO_C_SET_FD
constexpr long kBioNoClose = 0;         // BIO_NOCLOSE
constexpr int kLockRequest = 1;         // CRYPTO_LOCK
constexpr int kErrorWantRead = 2;       // SSL_ERROR_WANT_READ
constexpr int kErrorWantWrite = 3;      // SSL_ERROR_WANT_WRITE
constexpr int kCtrlSetHostName = 55;    // SSL_CTRL_SET_TLSEXT_HOSTNAME (SNI)
constexpr long kHostNameType = 0;       // TLSEXT_NAMETYPE_host_name
constexpr unsigned kNoPartialWildcards = 0x4; // X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS
constexpr long kVerifyHostMismatch = 62;      // X509_V_ERR_HOSTNAME_MISMATCH
constexpr long kVerifyIpMismatch = 64;        // X509_V_ERR_IP_ADDRESS_MISMATCH

struct Api {
    Series series;

    // libssl ("ssleay32.dll"), in the order in which they are resolved.
    int (*SSL_CTX_check_private_key)(const SSL_CTX *);
    long (*SSL_CTX_ctrl)(SSL_CTX *, int, long, void *);
    void (*SSL_CTX_free)(SSL_CTX *);
    int (*SSL_CTX_load_verify_locations)(SSL_CTX *, const char *, const char *);
    SSL_CTX *(*SSL_CTX_new)(const SSL_METHOD *);
    int (*SSL_CTX_set_cipher_list)(SSL_CTX *, const char *);
    void (*SSL_CTX_set_default_passwd_cb)(SSL_CTX *, PasswordCallback);
    void (*SSL_CTX_set_default_passwd_cb_userdata)(SSL_CTX *, void *);
    void *SSL_CTX_set_tmp_dh_callback;
    void (*SSL_CTX_set_verify)(SSL_CTX *, int, VerifyCallback);
    void (*SSL_CTX_set_verify_depth)(SSL_CTX *, int);
    int (*SSL_CTX_use_certificate_chain_file)(SSL_CTX *, const char *);
    int (*SSL_CTX_use_PrivateKey_file)(SSL_CTX *, const char *, int);
    int (*SSL_CTX_use_RSAPrivateKey_file)(SSL_CTX *, const char *, int);
    void *SSL_accept;
    int (*SSL_connect)(SSL *);
    void (*SSL_free)(SSL *);
    void *SSL_get_cipher_list;
    void *SSL_get_current_cipher;
    int (*SSL_get_error)(const SSL *, int);
    void *SSL_get_peer_certificate;
    long (*SSL_get_verify_result)(const SSL *);
    int (*SSL_library_init)();
    void (*SSL_load_error_strings)();
    SSL *(*SSL_new)(SSL_CTX *);
    int (*SSL_read)(SSL *, void *, int);
    void (*SSL_set_bio)(SSL *, BIO *, BIO *);
    int (*SSL_shutdown)(SSL *);
    int (*SSL_write)(SSL *, const void *, int);
    void *SSL_CIPHER_get_bits;
    void *SSL_CIPHER_get_name;
    void *SSL_CIPHER_get_version;
    void *SSLv3_server_method;
    void *SSLv3_client_method;
    void *SSLv23_server_method;
    const SSL_METHOD *(*SSLv23_client_method)();
    void *TLSv1_server_method;
    void *TLSv1_client_method;
    void *SSL_CTX_set_client_CA_list;
    void *SSL_load_client_CA_file;

    // libcrypto ("libeay32.dll"), in order.
    long (*BIO_int_ctrl)(BIO *, int, long, int);
    BIO *(*BIO_new)(const BIO_METHOD *);
    const BIO_METHOD *(*BIO_s_socket)();
    unsigned long (*ERR_get_error)();
    char *(*ERR_error_string)(unsigned long, char *);
    void *i2d_X509;
    void *X509_free;
    void *X509_get_ext_d2i;
    X509_NAME *(*X509_get_issuer_name)(const X509 *);
    X509_NAME *(*X509_get_subject_name)(const X509 *);
    const char *(*X509_verify_cert_error_string)(long);
    void *X509_NAME_get_text_by_NID;
    char *(*X509_NAME_oneline)(const X509_NAME *, char *, int);
    X509 *(*X509_STORE_CTX_get_current_cert)(X509_STORE_CTX *);
    int (*X509_STORE_CTX_get_error)(X509_STORE_CTX *);
    int (*X509_STORE_CTX_get_error_depth)(X509_STORE_CTX *);
    void *GENERAL_NAMES_free;
    void *BN_bin2bn;
    void *DH_new;
    void *OBJ_txt2nid;
    int (*CRYPTO_num_locks)();
    void (*CRYPTO_set_id_callback)(unsigned long (*)());
    void (*CRYPTO_set_locking_callback)(void (*)(int, int, const char *, int));
    void (*CRYPTO_set_dynlock_create_callback)(DynlockValue *(*)(const char *, int));
    void (*CRYPTO_set_dynlock_lock_callback)(void (*)(int, DynlockValue *, const char *, int));
    void (*CRYPTO_set_dynlock_destroy_callback)(void (*)(DynlockValue *, const char *, int));
    void *sk_num;
    void *sk_value;
    void *ASN1_STRING_data;
    void *ASN1_STRING_length;
    void *OPENSSL_config;

    // Optional: the version text, and the options function of the 3.x series.
    const char *(*SSLeay_version)(int);
    // Optional, 1.0 series: whether the host has installed locking callbacks of its own.
    void (*(*CRYPTO_get_locking_callback)())(int, int, const char *, int);
    std::uint64_t (*SSL_CTX_set_options)(SSL_CTX *, std::uint64_t);

    // Optional: server name indication (every series) and host-name verification (1.0.2 and later).
    long (*SSL_ctrl)(SSL *, int, long, void *);
    X509_VERIFY_PARAM *(*SSL_get0_param)(SSL *);
    int (*X509_VERIFY_PARAM_set1_host)(X509_VERIFY_PARAM *, const char *, std::size_t);
    int (*X509_VERIFY_PARAM_set1_ip_asc)(X509_VERIFY_PARAM *, const char *);
    void (*X509_VERIFY_PARAM_set_hostflags)(X509_VERIFY_PARAM *, unsigned int);

    // Optional, 1.1 and later: a shared context's reference count, whether OpenSSL is still
    // usable, and a handler its clean-up at exit runs first (ssl_context_cache.cpp).
    int (*SSL_CTX_up_ref)(SSL_CTX *);
    int (*OPENSSL_init_crypto)(std::uint64_t, const void *);
    int (*OPENSSL_atexit)(void (*)(void));

    // Optional, 1.1 and later: what a BIO method of the library's own needs (ssl_write_bio.cpp).
    BIO_METHOD *(*BIO_meth_new)(int, const char *);
    int (*BIO_meth_set_write)(BIO_METHOD *, int (*)(BIO *, const char *, int));
    int (*BIO_meth_set_ctrl)(BIO_METHOD *, long (*)(BIO *, int, long, void *));
    void (*BIO_set_data)(BIO *, void *);
    void *(*BIO_get_data)(BIO *);
    void (*BIO_set_init)(BIO *, int);
    void (*BIO_set_flags)(BIO *, int);
    void (*BIO_clear_flags)(BIO *, int);
    int (*BIO_free)(BIO *);

    // Optional: the count of bytes written through a connection's write BIO.
    BIO *(*SSL_get_wbio)(const SSL *);
    std::uint64_t (*BIO_number_written)(BIO *);
};

// The entry-point table; usable only while tlsReady is 1.
extern Api api;

} // namespace ossl

// 1 once OpenSSL is bound and initialised, for the rest of the process.
extern std::atomic<std::int32_t> tlsReady;

// Binds and initialises OpenSSL unless done; returns tlsReady.
int s_initSSL();
// Loads the two libraries and resolves every required entry point; 1 on success. hostLoaded
// tells whether the process had loaded libssl before.
int s_loadSSLlibraries(bool *hostLoaded);
// Installs OpenSSL's thread-locking callbacks (1.0 series); 0 when the lock table cannot be had.
int s_setSSLlocking();
