#include "plugin/TransportFactory.h"

#include "plugin/AfcTransport.h"
#include "plugin/FolderTransport.h"
#include "plugin/SftpTransport.h"
#include "plugin/UsbAfc.h"

namespace Tpot {

namespace {

struct TTransportKind {
    const char* Name;
    std::unique_ptr<TTransport> (*Make)(const TSettings&);
};

// The first row is the default.
const TTransportKind Transports[] = {
    {"usb",
     [](const TSettings& s) -> std::unique_ptr<TTransport> {
         return std::make_unique<TAfcTransport>(std::make_unique<TUsbAfcConnector>(s.Udid));
     }},
    {"folder",
     [](const TSettings& s) -> std::unique_ptr<TTransport> {
         return std::make_unique<TFolderTransport>(s.Folder);
     }},
    {"sftp",
     [](const TSettings& s) -> std::unique_ptr<TTransport> {
         return std::make_unique<TSftpTransport>(TSftpSettings::From(s));
     }},
};

} // namespace

std::vector<std::string> TransportNames() {
    std::vector<std::string> names;
    for (const TTransportKind& kind : Transports)
        names.emplace_back(kind.Name);
    return names;
}

std::unique_ptr<TTransport> MakeTransport(const TSettings& settings,
                                          std::vector<std::string>& warnings) {
    for (const TTransportKind& kind : Transports) {
        if (settings.Transport == kind.Name)
            return kind.Make(settings);
    }
    warnings.push_back("Transport \"" + settings.Transport + "\" is unknown; " +
                       Transports[0].Name + " is used");
    return Transports[0].Make(settings);
}

} // namespace Tpot
