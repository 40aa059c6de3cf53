#include "support/Archives.h"

#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cstdint>

namespace TestArchives {

std::string Gzip(const std::string& data, const TGzipParts& parts) {
    auto field = [](const char* text) { return reinterpret_cast<Bytef*>(const_cast<char*>(text)); };
    gz_header header{}; // null fields: none stored
    header.name = field(parts.Name);
    header.comment = field(parts.Comment);
    header.extra = parts.Extra.empty() ? Z_NULL : field(parts.Extra.data());
    header.extra_len = uInt(parts.Extra.size());
    header.hcrc = parts.HeaderCrc;
    header.os = 3;
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    deflateSetHeader(&z, &header);
    std::string out(deflateBound(&z, uLong(data.size())) + 1024, '\0');
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
    // With the content checksum, as the command-line tool writes it.
    std::string out(ZSTD_compressBound(data.size()), '\0');
    ZSTD_CCtx* context = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1);
    out.resize(ZSTD_compress2(context, out.data(), out.size(), data.data(), data.size()));
    ZSTD_freeCCtx(context);
    return out;
}

namespace {

constexpr std::uint64_t MiB = std::uint64_t(1) << 20;

void PutLe32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out += char((v >> (8 * i)) & 0xFF);
}

} // namespace

std::string GzipOfZeros(std::uint64_t size) {
    // One MiB of zeros as deflate blocks that end byte-aligned and refer to
    // nothing before them (a full flush), repeated, then an empty final block.
    const std::string zeros(MiB, '\0');
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string piece(deflateBound(&z, uLong(zeros.size())) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
    z.avail_in = uInt(zeros.size());
    z.next_out = reinterpret_cast<Bytef*>(piece.data());
    z.avail_out = uInt(piece.size());
    deflate(&z, Z_FULL_FLUSH);
    piece.resize(z.total_out);
    deflateEnd(&z);
    std::string out("\x1F\x8B\x08\0\0\0\0\0\0\x03", 10);
    const uLong pieceCrc = crc32(0, reinterpret_cast<const Bytef*>(zeros.data()), uInt(MiB));
    uLong crc = crc32(0, nullptr, 0);
    for (std::uint64_t done = 0; done < size; done += MiB) {
        out += piece;
        crc = crc32_combine(crc, pieceCrc, z_off_t(MiB));
    }
    out += std::string("\x03\0", 2); // final fixed block holding only its end code
    PutLe32(out, std::uint32_t(crc));
    PutLe32(out, std::uint32_t(size));
    return out;
}

std::string Bzip2OfZeros(std::uint64_t size) {
    // Streams of 64 MiB (each a few blocks of some 45 MB) one after another.
    const std::uint64_t streamSize = std::min<std::uint64_t>(size, 64 * MiB);
    const std::string stream = Bzip2(std::string(streamSize, '\0'), 9);
    std::string out;
    for (std::uint64_t done = 0; done < size; done += streamSize)
        out += stream;
    return out;
}

std::string XzOfZeros(std::uint64_t size, std::uint32_t dictionarySize) {
    // Streams of 16 MiB made with a small dictionary; the block header then
    // declares the wanted one (its CRC made again), as the encoder is free to
    // use less than it declares.
    const std::uint64_t streamSize = std::min<std::uint64_t>(size, 16 * MiB);
    const std::string zeros(streamSize, '\0');
    lzma_options_lzma options;
    lzma_lzma_preset(&options, 0);
    options.dict_size = 1u << 20;
    lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    std::string stream(lzma_stream_buffer_bound(zeros.size()), '\0');
    size_t pos = 0;
    if (lzma_stream_buffer_encode(filters, LZMA_CHECK_CRC32, nullptr,
                                  reinterpret_cast<const uint8_t*>(zeros.data()), zeros.size(),
                                  reinterpret_cast<uint8_t*>(stream.data()), &pos,
                                  stream.size()) != LZMA_OK)
        return {};
    stream.resize(pos);
    // The block header follows the 12-byte stream header; its last bytes
    // before the padding and CRC are the LZMA2 filter: id 0x21, 1, dictionary.
    const std::size_t header = 12, headerSize = (std::size_t(std::uint8_t(stream[header])) + 1) * 4;
    std::size_t dict = header + headerSize - 5;
    while (stream[dict] == 0)
        --dict;
    std::uint32_t code = 0;
    while (code < 40 && (std::uint64_t(2 | (code & 1)) << (code / 2 + 11)) < dictionarySize)
        ++code;
    stream[dict] = char(code);
    const std::uint32_t headerCrc = std::uint32_t(
        crc32(0, reinterpret_cast<const Bytef*>(stream.data() + header), uInt(headerSize - 4)));
    std::string crcBytes;
    PutLe32(crcBytes, headerCrc);
    stream.replace(header + headerSize - 4, 4, crcBytes);
    std::string out;
    for (std::uint64_t done = 0; done < size; done += streamSize)
        out += stream;
    return out;
}

std::string ZstdOfZeros(std::uint64_t size, unsigned windowLog) {
    // A frame header with only a window descriptor (no content size, no
    // checksum), then blocks of one repeated byte, 128 KiB each.
    std::string out("\x28\xB5\x2F\xFD\x00", 5);
    out += char((windowLog - 10) << 3);
    const std::uint32_t block = 128u << 10;
    for (std::uint64_t done = 0; done < size; done += block) {
        const bool last = done + block >= size;
        const std::uint32_t head = (block << 3) | (1u << 1) | (last ? 1u : 0u); // RLE block
        out += char(head & 0xFF);
        out += char((head >> 8) & 0xFF);
        out += char((head >> 16) & 0xFF);
        out += '\0';
    }
    return out;
}

} // namespace TestArchives
