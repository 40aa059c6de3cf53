#include "net/Digest.h"

#include <openssl/evp.h>

namespace {

const EVP_MD* MethodOf(QCryptographicHash::Algorithm algorithm) {
    switch (algorithm) {
    case QCryptographicHash::Md5:
        return EVP_md5();
    case QCryptographicHash::Sha1:
        return EVP_sha1();
    case QCryptographicHash::Sha256:
        return EVP_sha256();
    default:
        return nullptr;
    }
}

} // namespace

TDigest::TDigest(QCryptographicHash::Algorithm algorithm) {
    const EVP_MD* method = MethodOf(algorithm);
    context_ = method ? EVP_MD_CTX_new() : nullptr;
    if (context_ && EVP_DigestInit_ex(context_, method, nullptr) == 1)
        return;
    EVP_MD_CTX_free(context_);
    context_ = nullptr;
    fallback_.emplace(algorithm);
}

TDigest::~TDigest() {
    EVP_MD_CTX_free(context_);
}

void TDigest::Add(const void* data, std::size_t size) {
    if (context_ && EVP_DigestUpdate(context_, data, size) != 1) {
        // A digest that lost bytes must not match anything.
        EVP_MD_CTX_free(context_);
        context_ = nullptr;
    }
    if (fallback_)
        fallback_->addData(
            QByteArrayView(static_cast<const char*>(data), static_cast<qsizetype>(size)));
}

std::string TDigest::Hex() {
    if (fallback_)
        return fallback_->result().toHex().toStdString();
    unsigned char value[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!context_ || EVP_DigestFinal_ex(context_, value, &length) != 1)
        return std::string();
    static constexpr char Digits[] = "0123456789abcdef";
    std::string hex(std::size_t(length) * 2, '0');
    for (unsigned int i = 0; i < length; ++i) {
        hex[2 * i] = Digits[value[i] >> 4];
        hex[2 * i + 1] = Digits[value[i] & 15];
    }
    return hex;
}
