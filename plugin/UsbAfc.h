#pragma once

// The USB link: a phone attached over USB, reached through libimobiledevice.

#include "plugin/Afc.h"

#include <string>

namespace Tpot {

// Connects to the phone with the given UDID (empty: the first one attached),
// starts its root file service "com.apple.afc2" through lockdownd and opens an
// AFC client on it.
class TUsbAfcConnector : public TAfcConnector {
public:
    explicit TUsbAfcConnector(std::string udid);
    std::unique_ptr<TAfc> Connect(std::string& why) override;

private:
    std::string udid_;
};

// Asks usbmuxd (at USBMUXD_SOCKET_ADDRESS, "UNIX:/path" or "host:port", else
// /var/run/usbmuxd) for its list of phones and waits at most WaitMs for any
// answer, so that a daemon that never answers costs one short wait instead of
// the library's retries. False with the reason when it is not there or silent.
bool UsbmuxdAnswers(int waitMs, std::string& why);

} // namespace Tpot
