#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

struct FileIdentity;

// Builds a folder tree below root from short descriptions, one per entry ("/" separates names):
//   "bilder/"           a folder (parents are created as needed)
//   "bilder/logo.gif"   an empty file
//   "index.html=<p>"    a file with that content
//   "loop->.."          a symbolic link to ".."
//   "pipe|"             a named pipe
// Fails the current test (QVERIFY) when an entry cannot be made.
void MakeSiteTree(const QString &root, const QStringList &entries);

// As MakeSiteTree, with every entry given as the bytes its names have on disk, so that names that
// are not UTF-8 can be made.
void MakeRawSiteTree(const QString &root, const QList<QByteArray> &entries);

// Writes a file below root, creating its folders.
void WriteSiteFile(const QString &root, const QString &relative, const QByteArray &content);

// The file's identity once it can be trusted: file times advance in clock ticks, and an identity
// read within the tick of the last change is deliberately unusable (see ChangeMarkerStore). Waits
// for the tick to pass, with a deadline; returns nothing when the deadline passed.
std::optional<FileIdentity> SettledIdentity(const QString &path);
