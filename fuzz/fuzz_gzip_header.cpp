// Feeds arbitrary bytes to the gzip header reader: read whole or in two
// pieces split anywhere, it must come to the same header, never read past
// the bytes it was given, and never keep an overlong stored name.
#include "archive/FileTools.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace FileTools;
    if (size == 0)
        return 0;
    // The first byte chooses the split point; the rest is the file.
    const std::size_t cut = std::size_t(data[0]) * (size - 1) / 255;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

    TGzipHeaderReader all;
    all.Feed(bytes);
    const TGzipHeaderStatus status = all.Status();
    const TGzipHeader& whole = all.Header();
    Check(whole.StoredName.size() <= MaxStoredNameLength);
    Check(!whole.NameTooLong || whole.StoredName.empty());
    if (status == TGzipHeaderStatus::Complete)
        Check(whole.Length >= 10 && whole.Length <= bytes.size());
    if (status == TGzipHeaderStatus::NeedMore)
        Check(whole.Length == bytes.size());

    TGzipHeaderReader reader;
    const std::size_t first = reader.Feed(bytes.substr(0, cut));
    Check(first <= cut);
    if (reader.Status() == TGzipHeaderStatus::NeedMore) {
        Check(first == cut);
        reader.Feed(bytes.substr(cut));
    }
    Check(reader.Status() == status);
    const TGzipHeader& pieces = reader.Header();
    if (status != TGzipHeaderStatus::NotGzip) {
        Check(pieces.Length == whole.Length);
        Check(pieces.StoredName == whole.StoredName);
        Check(pieces.NameTooLong == whole.NameTooLong);
        Check(pieces.Flags == whole.Flags && pieces.MTime == whole.MTime);
    }
    return 0;
}
