#include "support/TestTls.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <stdexcept>

namespace {

template <typename T, void (*Free)(T*)> struct TDeleter {
    void operator()(T* p) const { Free(p); }
};
using TKeyPtr = std::unique_ptr<EVP_PKEY, TDeleter<EVP_PKEY, EVP_PKEY_free>>;
using TCertPtr = std::unique_ptr<X509, TDeleter<X509, X509_free>>;

void AddExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext || X509_add_ext(cert, ext, -1) != 1)
        throw std::runtime_error("TTestTls: extension refused");
    X509_EXTENSION_free(ext);
}

void WritePem(const std::string& path, const std::function<int(FILE*)>& write) {
    FILE* file = std::fopen(path.c_str(), "w");
    if (!file)
        throw std::runtime_error("TTestTls: cannot write " + path);
    const int ok = write(file);
    std::fclose(file);
    if (ok != 1)
        throw std::runtime_error("TTestTls: cannot encode " + path);
}

} // namespace

TTestTls::TTestTls() {
    if (!dir_.isValid())
        throw std::runtime_error("TTestTls: no temporary folder");
    TKeyPtr key(EVP_EC_gen("P-256"));
    TCertPtr cert(X509_new());
    if (!key || !cert)
        throw std::runtime_error("TTestTls: no key");
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 86400);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    AddExtension(cert.get(), NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(cert.get(), NID_key_usage, "critical,digitalSignature,keyCertSign");
    AddExtension(cert.get(), NID_ext_key_usage, "serverAuth");
    AddExtension(cert.get(), NID_subject_alt_name, "IP:127.0.0.1");
    if (X509_sign(cert.get(), key.get(), EVP_sha256()) <= 0)
        throw std::runtime_error("TTestTls: cannot sign");
    WritePem(KeyFile(), [&](FILE* f) {
        return PEM_write_PrivateKey(f, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    });
    WritePem(CertFile(), [&](FILE* f) { return PEM_write_X509(f, cert.get()); });

    if (const char* old = std::getenv("SSL_CERT_FILE")) {
        hadBundle_ = true;
        bundle_ = old;
    }
    ::setenv("SSL_CERT_FILE", CertFile().c_str(), 1);
    ::unsetenv("CURL_CA_BUNDLE");
}

TTestTls::~TTestTls() {
    if (hadBundle_)
        ::setenv("SSL_CERT_FILE", bundle_.c_str(), 1);
    else
        ::unsetenv("SSL_CERT_FILE");
}

std::string TTestTls::CertFile() const {
    return dir_.filePath(QStringLiteral("cert.pem")).toStdString();
}

std::string TTestTls::KeyFile() const {
    return dir_.filePath(QStringLiteral("key.pem")).toStdString();
}
