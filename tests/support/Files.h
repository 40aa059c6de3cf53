#pragma once

#include <QByteArray>
#include <QString>

// Small file helpers for tests that set up and inspect working folders.
namespace TestFiles {

// Writes Bytes to Path (replacing it), creating missing parent folders.
// Fails the current test when the file cannot be written.
void WriteBytes(const QString& path, const QByteArray& bytes);

// The whole content of Path, or "<missing>" when it cannot be read, so that a
// missing file never compares equal to an empty one.
QByteArray ReadBytes(const QString& path);

} // namespace TestFiles
