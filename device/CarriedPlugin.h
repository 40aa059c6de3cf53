#pragma once

#include <string_view>

// The phone plugin this program carries inside its executable, written to the
// working folder at start-up when no plugin is there. Empty in a build
// without the plugin.
std::string_view CarriedPlugin();
