#pragma once

#include <QTemporaryDir>

#include <string>

// A certificate for 127.0.0.1, signed by itself, with its key, written to a
// temporary folder. While the object lives, the transfers of the process
// trust it (and nothing else) through SSL_CERT_FILE, the variable the
// program reads as the curl tool does.
class TTestTls {
public:
    TTestTls();
    ~TTestTls();
    TTestTls(const TTestTls&) = delete;
    TTestTls& operator=(const TTestTls&) = delete;

    std::string CertFile() const;
    std::string KeyFile() const;

private:
    QTemporaryDir dir_;
    bool hadBundle_ = false;
    std::string bundle_;
};
