#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QString>
#include <QStringList>

#include <string>

// Small file helpers for tests that set up and inspect working folders.
namespace TestFiles {

// Writes Bytes to Path (replacing it), creating missing parent folders.
// Fails the current test when the file cannot be written.
void WriteBytes(const QString& path, const QByteArray& bytes);

// The whole content of Path, or "<missing>" when it cannot be read, so that a
// missing file never compares equal to an empty one.
QByteArray ReadBytes(const QString& path);

// Every name in Folder, sorted, as the system lists it. QDir leaves out names
// that are not UTF-8; here they show with U+FFFD, so litter is never missed.
QStringList Entries(const QString& folder);

// Size bytes of a short cycle that starts at Seed (a package's body).
std::string Pattern(std::size_t size, char seed);

// Bytes' digest in lower-case hex, as an index gives it.
std::string Digest(const std::string& bytes,
                   QCryptographicHash::Algorithm algorithm = QCryptographicHash::Sha256);

} // namespace TestFiles
