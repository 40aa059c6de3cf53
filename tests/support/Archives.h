#pragma once

#include <cstdint>
#include <string>

// Compressed forms of a text, as repositories serve them, for the tests of the
// decompression, the refresh and the window.
namespace TestArchives {

// What goes into a gzip file besides the data.
struct TGzipParts {
    const char* Name = nullptr;    // FNAME when not null
    const char* Comment = nullptr; // FCOMMENT when not null
    std::string Extra = {};        // FEXTRA when not empty
    bool HeaderCrc = false;        // FHCRC
};

std::string Gzip(const std::string& data, const TGzipParts& parts);
// A gzip file; storedName, when given, goes into the header.
inline std::string Gzip(const std::string& data, const char* storedName = nullptr) {
    return Gzip(data, TGzipParts{.Name = storedName});
}
std::string Bzip2(const std::string& data, int level = 9);
std::string Xz(const std::string& data);
std::string Zstd(const std::string& data);

// Archives of `size` zero bytes (a multiple of 1 MiB) that stay small however
// large the output: pieces compressed once and repeated, or, for zstd, blocks
// of one repeated byte. The xz and zstd ones declare the given dictionary or
// window size, which is what a decoder allocates.
std::string GzipOfZeros(std::uint64_t size);
std::string Bzip2OfZeros(std::uint64_t size);
std::string XzOfZeros(std::uint64_t size, std::uint32_t dictionarySize = 8u << 20);
std::string ZstdOfZeros(std::uint64_t size, unsigned windowLog = 23);

} // namespace TestArchives
