#pragma once

#include "base/Outcome.h"

#include <QString>

#include <cstddef>
#include <string_view>

// What a phone copy did with one file: its name and how it went.
struct TFileOutcome {
    QString Name;
    TOutcome Outcome;
};

// Local file steps of the phone copies: names that may become local paths,
// the scratch file a phone file is fetched into, and whole-file copies.
namespace DeviceFiles {

// The working folder's scratch file that a list from the phone is fetched
// into before it is copied where it belongs.
inline constexpr char FetchScratchName[] = "download.list";

// True when a name that came from the phone may be used as a file name in a
// local folder (SafeFiles::UnsafeNameReason): a plain file name, valid UTF-8,
// without control characters.
bool IsUsableName(std::string_view name);

// True when Path is a regular file itself (not a link, a folder or a pipe):
// only such a file is handed to the plugin to be sent.
bool IsRegularFile(const QString& path);

// Copies Source (a regular file, not a link) over Target, replacing it: Target
// gets the whole of Source or stays as it was. A Source over Limit bytes
// fails. Reason, when given, gets why it failed.
bool CopyWhole(const QString& source, const QString& target, std::size_t limit,
               QString* reason = nullptr);

// Removes a file (or link); false when it is still there.
bool Remove(const QString& path);

} // namespace DeviceFiles
