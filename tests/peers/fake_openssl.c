/* Stand-ins for libssl / libcrypto that export only some of OpenSSL's entry points, to test
 * how the library's binding fails. None of these functions is ever called but the version. */
#define STUB(name) \
    void name(void) {}

const char *OpenSSL_version(int which) {
    (void)which;
    return "Stand-in OpenSSL for binding tests";
}
STUB(OPENSSL_init_ssl)

#if defined(FAKE_LIBSSL_PARTIAL)
/* The first entry point and then nothing: SSL_CTX_ctrl is the first one missing. */
STUB(SSL_CTX_check_private_key)
STUB(SSL_CTX_free)
#elif defined(FAKE_LIBSSL_FULL)
STUB(SSL_CTX_check_private_key) STUB(SSL_CTX_ctrl) STUB(SSL_CTX_free) STUB(SSL_CTX_load_verify_locations)
STUB(SSL_CTX_new) STUB(SSL_CTX_set_cipher_list) STUB(SSL_CTX_set_default_passwd_cb)
STUB(SSL_CTX_set_default_passwd_cb_userdata) STUB(SSL_CTX_set_tmp_dh_callback) STUB(SSL_CTX_set_verify)
STUB(SSL_CTX_set_verify_depth) STUB(SSL_CTX_use_certificate_chain_file) STUB(SSL_CTX_use_PrivateKey_file)
STUB(SSL_CTX_use_RSAPrivateKey_file) STUB(SSL_accept) STUB(SSL_connect) STUB(SSL_free)
STUB(SSL_get_cipher_list) STUB(SSL_get_current_cipher) STUB(SSL_get_error) STUB(SSL_get1_peer_certificate)
STUB(SSL_get_verify_result) STUB(SSL_new) STUB(SSL_read) STUB(SSL_set_bio) STUB(SSL_shutdown) STUB(SSL_write)
STUB(SSL_CIPHER_get_bits) STUB(SSL_CIPHER_get_name) STUB(SSL_CIPHER_get_version) STUB(TLS_server_method)
STUB(TLS_client_method) STUB(SSL_CTX_set_client_CA_list) STUB(SSL_load_client_CA_file)
#elif defined(FAKE_LIBCRYPTO_NO_CONFIG)
/* Everything but OPENSSL_config, which the library resolves and never calls. */
STUB(BIO_int_ctrl) STUB(BIO_new) STUB(BIO_s_socket) STUB(ERR_get_error) STUB(ERR_error_string) STUB(i2d_X509)
STUB(X509_free) STUB(X509_get_ext_d2i) STUB(X509_get_issuer_name) STUB(X509_get_subject_name)
STUB(X509_verify_cert_error_string) STUB(X509_NAME_get_text_by_NID) STUB(X509_NAME_oneline)
STUB(X509_STORE_CTX_get_current_cert) STUB(X509_STORE_CTX_get_error) STUB(X509_STORE_CTX_get_error_depth)
STUB(GENERAL_NAMES_free) STUB(BN_bin2bn) STUB(DH_new) STUB(OBJ_txt2nid) STUB(OPENSSL_sk_num)
STUB(OPENSSL_sk_value) STUB(ASN1_STRING_get0_data) STUB(ASN1_STRING_length)
#endif
