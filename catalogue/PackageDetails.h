#pragma once

#include "catalogue/PackageRow.h"

#include <QString>

#include <string>
#include <string_view>
#include <vector>

// The details of one package, read again from its index when its row is
// selected. Decoded fields (Name, Author, Maintainer, Description) hold valid
// UTF-8 or nothing; the others hold the index's bytes.
struct TDebianInfo {
    std::string Package;
    std::string Name;
    std::string Version;
    std::string Author;
    std::string Maintainer;
    std::string Description;
    std::string Size;
    std::string Homepage;
    std::string Filename; // the download address once FindPackage has run
    std::string Depends;
    std::string PreDepends;
    std::string IndexFile;
    std::string Depiction;
    std::string Section;
    std::string Architecture;
    // Not shown, for the download: the package file's name in the local cache
    // and the stanza's hash values ("SHA256:", "SHA1:", "MD5sum:").
    std::string LocalName;
    std::string SHA256;
    std::string SHA1;
    std::string MD5sum;
    bool operator==(const TDebianInfo&) const = default;
};

// Scans Folder + Info.IndexFile for the first stanza of Info.Package and fills
// Info from it; the download address is computed in every case, under
// "https://" when Https (the source's scheme). True when found.
// An IndexFile that is not a plain file name (empty, holds "/" or a NUL byte,
// or is "." or "..") is never opened; nor is anything but a regular file.
bool FindPackage(TDebianInfo& info, const QString& folder, bool https = false);

// As above for the stanza a row stands for: the first stanza of Info.Package
// whose Version and Architecture, read the way the package list reads them,
// are Key's. Another build or version of the same identifier is never taken
// in its place.
bool FindPackage(TDebianInfo& info, const QString& folder, const TPackageKey& key,
                 bool https = false);

// Reads every index of Folder once, so that each later FindPackage in it
// reads only the stanzas of its identifier instead of scanning for them. It
// takes a fraction of a second for a large catalogue: a worker does it.
void LearnIndexes(const QString& folder);

// The download address from an index file name and a "Filename:" value:
// "http://" (or "https://") + the source's base (its name read back into an
// address, cut after "/dists", or without its trailing "/Packages") + the
// value, with every ".." removed and doubled or dotted
// separators collapsed. A source added by hand ("host_Packages") gets a "/"
// between its base and a value that starts with neither "/" nor "./". A value
// that is a whole "http://" or "https://" address is used as it stands.
std::string DownloadAddress(std::string_view indexFile, std::string_view filename,
                            bool https = false);

// The author label: text shown and the bare e-mail address (hint; the link
// target is "mailto:" + address).
struct TAuthorLink {
    std::string Text;
    std::string Address;
};
TAuthorLink SplitAuthor(std::string_view author);

// Display form of the first dependency label: blanks removed, then ", ", " ("
// and "= " spelled out.
std::string DependsDisplay(std::string_view depends);

// The identifier that follows Current in a dependency label's text (cycling
// back to the first), as a click on the label puts it into the search field.
std::string NextDependency(std::string_view labelText, std::string_view current);
