#include "support/Archives.h"

#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include <cstdint>

namespace TestArchives {

std::string Gzip(const std::string& data, const char* storedName) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    gz_header header{}; // a null name: none stored
    header.name = reinterpret_cast<Bytef*>(const_cast<char*>(storedName));
    deflateSetHeader(&z, &header);
    std::string out(deflateBound(&z, uLong(data.size())) + 300, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::string Bzip2(const std::string& data, int level) {
    std::string out(data.size() + data.size() / 100 + 600, '\0');
    unsigned int size = unsigned(out.size());
    BZ2_bzBuffToBuffCompress(out.data(), &size, const_cast<char*>(data.data()),
                             unsigned(data.size()), level, 0, 0);
    out.resize(size);
    return out;
}

std::string Xz(const std::string& data) {
    std::string out(lzma_stream_buffer_bound(data.size()), '\0');
    size_t pos = 0;
    lzma_easy_buffer_encode(6, LZMA_CHECK_CRC64, nullptr,
                            reinterpret_cast<const uint8_t*>(data.data()), data.size(),
                            reinterpret_cast<uint8_t*>(out.data()), &pos, out.size());
    out.resize(pos);
    return out;
}

std::string Zstd(const std::string& data) {
    std::string out(ZSTD_compressBound(data.size()), '\0');
    out.resize(ZSTD_compress(out.data(), out.size(), data.data(), data.size(), 3));
    return out;
}

} // namespace TestArchives
