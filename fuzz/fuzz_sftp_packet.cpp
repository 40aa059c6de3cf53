// The answers an SFTP server sends, as the phone plugin's SFTP transport
// reads them: the version answer's extensions, listings and attributes.

#include "plugin/SftpPacket.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    Tpot::TSftpExtensions extensions;
    Tpot::ParseSftpExtensions(body, extensions);
    std::vector<Tpot::TEntry> entries;
    if (Tpot::ParseSftpNames(body, entries) && entries.size() > size / 12)
        __builtin_trap(); // every entry takes at least 12 bytes of the answer
    Tpot::TSftpFields fields(body);
    Tpot::TSftpAttributes attributes;
    while (fields.GetAttributes(attributes)) {
    }
    const std::string text = Tpot::SftpPrintable(body);
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20)
            __builtin_trap();
    }
    return 0;
}
