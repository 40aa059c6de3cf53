// Whole zstd decoding of arbitrary bytes (see DecodeCheck.h), compared with
// libzstd's one-call decoder of concatenated frames.
#include "DecodeCheck.h"

#include <zstd.h>

namespace {

bool Reference(const std::uint8_t* data, std::size_t size, std::string& out) {
    static std::string buffer(DecodeCheck::Limit + 1, '\0');
    const std::size_t n = ZSTD_decompress(buffer.data(), buffer.size(), data, size);
    if (ZSTD_isError(n))
        return false;
    out.assign(buffer.data(), n);
    return n <= DecodeCheck::Limit;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    DecodeCheck::Run(FileTools::TCompression::Zstd, data, size, &Reference);
    return 0;
}
