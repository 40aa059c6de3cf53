#pragma once

// The USB link: a phone attached over USB, reached through libimobiledevice.

#include "plugin/Afc.h"

#include <string>

namespace tpot {

// Connects to the phone with the given UDID (empty: the first one attached),
// starts its root file service "com.apple.afc2" through lockdownd and opens an
// AFC client on it.
class TUsbAfcConnector : public IAfcConnector {
public:
    explicit TUsbAfcConnector(std::string udid);
    std::unique_ptr<IAfc> Connect(std::string& why) override;

private:
    std::string Udid;
};

} // namespace tpot
