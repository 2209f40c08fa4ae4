/* A stand-in OpenSSL pair that prints every call the library makes into it, with the values
 * that matter ("call SSL_CTX_ctrl 32 0x80100bff"), so that a test can read what OpenSSL would
 * have received. Built as the 1.0 series (no OPENSSL_init_ssl: the library initialises it and
 * installs its locking callbacks) or as the 1.1 series (RECORDING_V11). Objects are dummies;
 * every handshake fails with SSL_ERROR_SSL and an empty error queue. */
#include <stdio.h>

#define SAY(...) (printf("call " __VA_ARGS__), printf("\n"), fflush(stdout))
#define QUIET(name) \
    void name(void) {}

static char dummy[64];

#if defined(RECORDING_LIBSSL)
#ifdef RECORDING_V11
int OPENSSL_init_ssl(unsigned long long opts, const void *settings) { (void)opts, (void)settings; return 1; }
const void *TLS_client_method(void) { SAY("TLS_client_method"); return dummy; }
QUIET(TLS_server_method)
#else
int SSL_library_init(void) { SAY("SSL_library_init"); return 1; }
void SSL_load_error_strings(void) { SAY("SSL_load_error_strings"); }
const void *SSLv23_client_method(void) { SAY("SSLv23_client_method"); return dummy; }
QUIET(SSLv3_server_method) QUIET(SSLv3_client_method) QUIET(SSLv23_server_method)
QUIET(TLSv1_server_method) QUIET(TLSv1_client_method)
#endif
const char *SSLeay_version(int which) { (void)which; return "Recording stand-in OpenSSL"; }
int SSL_CTX_check_private_key(const void *c) { (void)c; return 1; }
long SSL_CTX_ctrl(void *c, int cmd, long larg, void *parg) {
    (void)c, (void)parg;
    SAY("SSL_CTX_ctrl %d 0x%lx", cmd, (unsigned long)larg);
    return 0;
}
void SSL_CTX_free(void *c) { (void)c; SAY("SSL_CTX_free"); }
int SSL_CTX_load_verify_locations(void *c, const char *f, const char *p) { (void)c, (void)f, (void)p; return 1; }
void *SSL_CTX_new(const void *m) { (void)m; SAY("SSL_CTX_new"); return dummy; }
int SSL_CTX_set_cipher_list(void *c, const char *l) { (void)c; SAY("SSL_CTX_set_cipher_list %s", l); return 1; }
void SSL_CTX_set_default_passwd_cb(void *c, void *cb) { (void)c, (void)cb; }
void SSL_CTX_set_default_passwd_cb_userdata(void *c, void *u) { (void)c, (void)u; }
void SSL_CTX_set_verify(void *c, int mode, void *cb) { (void)c, (void)cb; SAY("SSL_CTX_set_verify %d", mode); }
void SSL_CTX_set_verify_depth(void *c, int depth) { (void)c; SAY("SSL_CTX_set_verify_depth %d", depth); }
int SSL_CTX_use_certificate_chain_file(void *c, const char *f) { (void)c, (void)f; return 1; }
int SSL_CTX_use_PrivateKey_file(void *c, const char *f, int t) { (void)c, (void)f, (void)t; return 1; }
int SSL_CTX_use_RSAPrivateKey_file(void *c, const char *f, int t) { (void)c, (void)f, (void)t; return 1; }
int SSL_connect(void *s) { (void)s; SAY("SSL_connect"); return -1; }
void SSL_free(void *s) { (void)s; SAY("SSL_free"); }
int SSL_get_error(const void *s, int r) { (void)s, (void)r; return 1; }
long SSL_get_verify_result(const void *s) { (void)s; return 0; }
void *SSL_new(void *c) { (void)c; SAY("SSL_new"); return dummy; }
int SSL_read(void *s, void *b, int n) { (void)s, (void)b, (void)n; return -1; }
void SSL_set_bio(void *s, void *r, void *w) { (void)s, (void)r, (void)w; }
int SSL_shutdown(void *s) { (void)s; SAY("SSL_shutdown"); return 1; }
int SSL_write(void *s, const void *b, int n) { (void)s, (void)b, (void)n; return -1; }
QUIET(SSL_CTX_set_tmp_dh_callback) QUIET(SSL_accept) QUIET(SSL_get_cipher_list) QUIET(SSL_get_current_cipher)
QUIET(SSL_get_peer_certificate) QUIET(SSL_CIPHER_get_bits) QUIET(SSL_CIPHER_get_name)
QUIET(SSL_CIPHER_get_version) QUIET(SSL_CTX_set_client_CA_list) QUIET(SSL_load_client_CA_file)
#endif

#if defined(RECORDING_LIBCRYPTO)
#ifndef RECORDING_V11
int CRYPTO_num_locks(void) { return 4; }
void CRYPTO_set_id_callback(void *f) { SAY("CRYPTO_set_id_callback %s", f ? "set" : "null"); }
void CRYPTO_set_locking_callback(void *f) { SAY("CRYPTO_set_locking_callback %s", f ? "set" : "null"); }
void CRYPTO_set_dynlock_create_callback(void *f) { SAY("CRYPTO_set_dynlock_create_callback %s", f ? "set" : "null"); }
void CRYPTO_set_dynlock_lock_callback(void *f) { SAY("CRYPTO_set_dynlock_lock_callback %s", f ? "set" : "null"); }
void CRYPTO_set_dynlock_destroy_callback(void *f) { SAY("CRYPTO_set_dynlock_destroy_callback %s", f ? "set" : "null"); }
QUIET(sk_num) QUIET(sk_value) QUIET(ASN1_STRING_data)
#else
QUIET(OPENSSL_sk_num) QUIET(OPENSSL_sk_value) QUIET(ASN1_STRING_get0_data)
#endif
long BIO_int_ctrl(void *b, int cmd, long larg, int iarg) {
    (void)b, (void)iarg;
    SAY("BIO_int_ctrl %d %ld", cmd, larg);
    return 1;
}
void *BIO_new(const void *m) { (void)m; return dummy; }
const void *BIO_s_socket(void) { return dummy; }
unsigned long ERR_get_error(void) { return 0; }
char *ERR_error_string(unsigned long e, char *buf) { (void)e; return buf; }
QUIET(i2d_X509) QUIET(X509_free) QUIET(X509_get_ext_d2i) QUIET(X509_get_issuer_name) QUIET(X509_get_subject_name)
QUIET(X509_verify_cert_error_string) QUIET(X509_NAME_get_text_by_NID) QUIET(X509_NAME_oneline)
QUIET(X509_STORE_CTX_get_current_cert) QUIET(X509_STORE_CTX_get_error) QUIET(X509_STORE_CTX_get_error_depth)
QUIET(GENERAL_NAMES_free) QUIET(BN_bin2bn) QUIET(DH_new) QUIET(OBJ_txt2nid) QUIET(ASN1_STRING_length)
QUIET(OPENSSL_config)
#endif
