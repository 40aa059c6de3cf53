#pragma once

// The one place that turns the "Transport" key into a transport. A new way of
// reaching the phone adds one row to the table in TransportFactory.cpp.

#include "plugin/Settings.h"
#include "plugin/Transport.h"

#include <memory>
#include <string>
#include <vector>

namespace Tpot {

// The names the "Transport" key accepts, in the table's order.
std::vector<std::string> TransportNames();

// The transport the settings ask for. An unknown name gives the first one of
// the table (usb) and a line in Warnings.
std::unique_ptr<TTransport> MakeTransport(const TSettings& settings,
                                          std::vector<std::string>& warnings);

} // namespace Tpot
