#pragma once

#include <string>

// Compressed forms of a text, as repositories serve them, for the tests of the
// decompression, the refresh and the window.
namespace TestArchives {

// A gzip file; storedName, when given, goes into the header.
std::string Gzip(const std::string& data, const char* storedName = nullptr);
std::string Bzip2(const std::string& data, int level = 9);
std::string Xz(const std::string& data);
std::string Zstd(const std::string& data);

} // namespace TestArchives
