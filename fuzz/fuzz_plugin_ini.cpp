// The plugin's settings file "T-Pot.ini" on arbitrary text: whatever it holds,
// reading it gives values the transports can use as they are (a root prefix
// that is a canonical phone path, full paths, a port number) or a reason.
#include "plugin/PhonePath.h"
#include "plugin/Settings.h"
#include "plugin/SftpTransport.h"

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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::vector<std::string> warnings;
    const Tpot::TSettings settings =
        Tpot::ParseSettings(std::string_view(reinterpret_cast<const char*>(data), size), warnings);
    if (!settings.RootPrefix.empty())
        Check(settings.RootPrefix != "/" &&
              Tpot::NormalisePhonePath(settings.RootPrefix) == settings.RootPrefix);
    Check(settings.Folder.empty() || settings.Folder.front() == '/');
    Check(settings.Udid.size() <= 64);
    Check(!settings.Transport.empty());

    const Tpot::TSftpSettings sftp = Tpot::TSftpSettings::From(settings);
    if (sftp.Problem.empty()) {
        Check(!sftp.Host.empty() && sftp.Port >= 1 && sftp.Port <= 65535);
        Check(sftp.Host.find_first_of(" @/\n\r") == std::string::npos);
        Check(sftp.KeyFile.empty() || sftp.KeyFile.front() == '/');
        Check(sftp.KnownHosts.empty() || sftp.KnownHosts.front() == '/');
    }
    return 0;
}
