#pragma once

// The USB transport's logic: phone files through the AFC calls of Afc.h.

#include "plugin/Afc.h"
#include "plugin/Transport.h"

#include <memory>
#include <optional>

namespace Tpot {

class TAfcTransport : public TTransport {
public:
    explicit TAfcTransport(std::unique_ptr<TAfcConnector> connector);

    TPOT_TRANSPORT_CALLS
    void Disconnect() override { afc_.reset(); }

private:
    // Connects when there is no connection yet (no check of a live one).
    bool Ready(std::string& why);
    // Describes Error in Why and drops the connection when Error means the link
    // itself broke, so that the next call reconnects.
    void Fail(afc_error_t error, std::string& why);
    std::string TempNameIn(const std::string& folder);
    // The description of Path; a link by what it points at, when that is there.
    afc_error_t Describe(const std::string& path, const std::string& name, TEntry& entry);
    // The phone path a link leads to, its own links followed too.
    bool Follow(const std::string& path, std::string& target, std::string& why);

    std::unique_ptr<TAfcConnector> connector_;
    std::unique_ptr<TAfc> afc_;
    uint64_t tempCounter_;
};

// Turns the phone's description of a file into an entry named Name.
TEntry EntryFromAfcInfo(const std::string& name, const std::map<std::string, std::string>& info);

// The canonical phone path that the link Path with the text Target leads to
// (relative to Path's folder unless it starts with "/"); nothing when it
// climbs above the root or holds a name that is not plain.
std::optional<std::string> ResolveLink(const std::string& path, const std::string& target);

} // namespace Tpot
