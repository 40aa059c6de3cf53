// Whole xz decoding of arbitrary bytes (see DecodeCheck.h), compared with
// liblzma's one-call decoder of concatenated streams.
#include "DecodeCheck.h"

#include <lzma.h>

namespace {

bool Reference(const std::uint8_t* data, std::size_t size, std::string& out) {
    static std::string buffer(DecodeCheck::Limit + 1, '\0');
    std::uint64_t memlimit = std::uint64_t(128) << 20;
    std::size_t inPos = 0, outPos = 0;
    const lzma_ret rc = lzma_stream_buffer_decode(
        &memlimit, LZMA_CONCATENATED, nullptr, data, &inPos, size,
        reinterpret_cast<std::uint8_t*>(buffer.data()), &outPos, buffer.size());
    out.assign(buffer.data(), outPos);
    return rc == LZMA_OK && outPos <= DecodeCheck::Limit;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    DecodeCheck::Run(FileTools::TCompression::Xz, data, size, &Reference);
    return 0;
}
