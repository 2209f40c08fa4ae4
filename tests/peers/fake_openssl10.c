/* A stand-in for the 1.0 series' ssleay32.dll (FAKE_SSLEAY) or libeay32.dll (FAKE_LIBEAY): every
 * entry point the library binds, doing nothing and returning 0 (so a context cannot be made),
 * except what initialisation needs: SSL_library_init succeeds, four locks, and the locking
 * callback is kept so that a caller can see who installed it. */
#define STUB(name) \
    __declspec(dllexport) long name(void) { return 0; }

#if defined(FAKE_SSLEAY)
__declspec(dllexport) const char *SSLeay_version(int which) {
    (void)which;
    return "Stand-in OpenSSL 1.0 for binding tests";
}
__declspec(dllexport) int SSL_library_init(void) { return 1; }
STUB(SSL_CTX_check_private_key) STUB(SSL_CTX_ctrl) STUB(SSL_CTX_free) STUB(SSL_CTX_load_verify_locations)
STUB(SSL_CTX_new) STUB(SSL_CTX_set_cipher_list) STUB(SSL_CTX_set_default_passwd_cb)
STUB(SSL_CTX_set_default_passwd_cb_userdata) STUB(SSL_CTX_set_tmp_dh_callback) STUB(SSL_CTX_set_verify)
STUB(SSL_CTX_set_verify_depth) STUB(SSL_CTX_use_certificate_chain_file) STUB(SSL_CTX_use_PrivateKey_file)
STUB(SSL_CTX_use_RSAPrivateKey_file) STUB(SSL_accept) STUB(SSL_connect) STUB(SSL_free)
STUB(SSL_get_cipher_list) STUB(SSL_get_current_cipher) STUB(SSL_get_error) STUB(SSL_get_peer_certificate)
STUB(SSL_get_verify_result) STUB(SSL_load_error_strings) STUB(SSL_new) STUB(SSL_read) STUB(SSL_set_bio)
STUB(SSL_shutdown) STUB(SSL_write) STUB(SSL_CIPHER_get_bits) STUB(SSL_CIPHER_get_name) STUB(SSL_CIPHER_get_version)
STUB(SSLv3_server_method) STUB(SSLv3_client_method) STUB(SSLv23_server_method) STUB(SSLv23_client_method)
STUB(TLSv1_server_method) STUB(TLSv1_client_method) STUB(SSL_CTX_set_client_CA_list) STUB(SSL_load_client_CA_file)
#elif defined(FAKE_LIBEAY)
typedef void (*LockingCallback)(int, int, const char *, int);
static LockingCallback locking;
__declspec(dllexport) int CRYPTO_num_locks(void) { return 4; }
__declspec(dllexport) void CRYPTO_set_locking_callback(LockingCallback callback) { locking = callback; }
__declspec(dllexport) LockingCallback CRYPTO_get_locking_callback(void) { return locking; }
STUB(BIO_int_ctrl) STUB(BIO_new) STUB(BIO_s_socket) STUB(ERR_get_error) STUB(ERR_error_string) STUB(i2d_X509)
STUB(X509_free) STUB(X509_get_ext_d2i) STUB(X509_get_issuer_name) STUB(X509_get_subject_name)
STUB(X509_verify_cert_error_string) STUB(X509_NAME_get_text_by_NID) STUB(X509_NAME_oneline)
STUB(X509_STORE_CTX_get_current_cert) STUB(X509_STORE_CTX_get_error) STUB(X509_STORE_CTX_get_error_depth)
STUB(GENERAL_NAMES_free) STUB(BN_bin2bn) STUB(DH_new) STUB(OBJ_txt2nid) STUB(CRYPTO_set_id_callback)
STUB(CRYPTO_set_dynlock_create_callback) STUB(CRYPTO_set_dynlock_lock_callback)
STUB(CRYPTO_set_dynlock_destroy_callback) STUB(sk_num) STUB(sk_value) STUB(ASN1_STRING_data)
STUB(ASN1_STRING_length) STUB(OPENSSL_config)
#endif
