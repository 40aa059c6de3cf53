#pragma once

#include "base/Outcome.h"

#include <QString>

#include <string>
#include <string_view>

class TPhone;

// The package architecture of the phone, as its dpkg keeps it.
namespace PhoneArchitecture {

// Where dpkg keeps the architectures it installs for: the plugin's own root
// (a rootless phone with the root prefix set), a rootful phone, and a rootless
// jailbreak's prefix reached without it.
inline constexpr const char* Files[] = {"/var/lib/dpkg/arch", "/private/var/lib/dpkg/arch",
                                        "/var/jb/var/lib/dpkg/arch"};

// The first line of a dpkg architecture file that names a phone architecture
// ("iphoneos-arm", "iphoneos-arm64", "iphoneos-arm64e"; blanks around it
// ignored); empty when no line does.
std::string FromDpkgFile(std::string_view text);

// Asks the phone: each of Files in turn is copied into Scratch (a file of the
// working folder, removed afterwards) until one names an architecture. The
// reason says what was tried when none does.
TOutcome Read(TPhone& phone, const QString& scratch, std::string& architecture);

} // namespace PhoneArchitecture
