#pragma once

#include <QCryptographicHash>

#include <cstddef>
#include <optional>
#include <string>

struct evp_md_ctx_st;

// A running digest (MD5, SHA-1 or SHA-256) of bytes that arrive in pieces, as
// lower-case hex. libcrypto computes it with the processor's hash
// instructions where there are some, several times faster than Qt's portable
// code: every byte of every package fetched is hashed. Should libcrypto refuse to start
// one, Qt's code takes over, so the result is the same either way.
class TDigest {
public:
    explicit TDigest(QCryptographicHash::Algorithm algorithm);
    ~TDigest();
    TDigest(const TDigest&) = delete;
    TDigest& operator=(const TDigest&) = delete;

    void Add(const void* data, std::size_t size);
    // The digest of everything added; ends the digest.
    std::string Hex();

private:
    evp_md_ctx_st* context_ = nullptr;
    std::optional<QCryptographicHash> fallback_;
};
