// Whole zstd decoding of arbitrary bytes (see DecodeCheck.h), compared with
// libzstd decoding all the bytes in one call.
#include "DecodeCheck.h"

#include <zstd.h>

namespace {

// The library's streaming decoder given all the bytes and all the room at
// once (its one-shot decoder is laxer: it lets a frame refer past its window).
bool Reference(const std::uint8_t* data, std::size_t size, std::string& out) {
    static std::string buffer(DecodeCheck::Limit + 1, '\0');
    static ZSTD_DStream* stream = ZSTD_createDStream();
    ZSTD_DCtx_reset(stream, ZSTD_reset_session_only);
    ZSTD_inBuffer in{data, size, 0};
    ZSTD_outBuffer room{buffer.data(), buffer.size(), 0};
    std::size_t rc = 0;
    while (in.pos < in.size) {
        const std::size_t before = in.pos + room.pos;
        rc = ZSTD_decompressStream(stream, &room, &in);
        if (ZSTD_isError(rc) || in.pos + room.pos == before)
            return false;
    }
    out.assign(buffer.data(), room.pos);
    return rc == 0 && room.pos <= DecodeCheck::Limit;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    DecodeCheck::Run(FileTools::TCompression::Zstd, data, size, &Reference);
    return 0;
}
