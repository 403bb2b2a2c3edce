#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

// Builds local site folders for end-to-end tests and reads server folders back, so that a
// publication can be checked file by file.
namespace SiteFixture {

// Writes each relative path ("/" separated, real case) with its content below root, creating
// folders.
void write(const QString &root, const QMap<QString, QByteArray> &files);

// Every file below root as relative path ("/" separated) to content; folders are listed with a
// trailing
// "/" and empty content. Hidden names are included, so nothing is missed.
QMap<QString, QByteArray> read(const QString &root);

// The files of a local site as the server should hold them: paths lower-cased, plus the upload log.
QMap<QString, QByteArray> expectedOnServer(const QMap<QString, QByteArray> &localFiles);

// A nested sample site with mixed-case names, an empty file and binary content.
QMap<QString, QByteArray> sampleSite();

} // namespace SiteFixture
