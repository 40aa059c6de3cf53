#pragma once

#include "base/Outcome.h"

#include <QString>
#include <QStringList>

// What a user types or pastes into the source field, turned into the index
// addresses the refresh asks for.
namespace SourceAddress {

// The phone's architecture when none is chosen.
inline const QString DefaultArchitecture = QStringLiteral("iphoneos-arm");

// Accepts
//   - an address: "repo.example.org", "https://host/repo/", "host/repo/Packages"
//     (a flat repository, in the phone's form "scheme://host/repo/./Packages"),
//     "host/dists/stable/" (completed to
//     "dists/stable/main/binary-ARCH/Packages"), or a whole index address;
//   - a source line: "[deb] URI SUITE COMPONENT..." (one address per
//     component) or "[deb] URI ./" (flat).
// The scheme is kept ("http://" when none is typed), no "/" is ever doubled.
// Refuses, with the reason, an empty field, an address without a host, a
// host with blanks, another scheme, or a line that is no address at all.
TOutcome FromTyped(const QString& typed, const QString& architecture, QStringList& addresses);

// True for an address that begins with "https://" / "http://" (any letter case).
bool IsHttps(const QString& address);
bool IsHttp(const QString& address);

// The same address under "https://" (an address without a scheme gets one).
QString WithHttps(const QString& address);

} // namespace SourceAddress
