#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QStringList>

// Small pieces the server fixtures share.

// The source tree, where tools/ftpserver.py and the other test helpers live.
[[nodiscard]] QString TestSourceDirectory();

// Runs a program to its end with the given standard input; false with a message when it cannot be
// started or does not exit with 0.
[[nodiscard]] bool RunToCompletion(const QString &program, const QStringList &arguments,
                                   const QByteArray &input, QString *error);

// A port that was free a moment ago, for servers that cannot be told to pick one themselves.
[[nodiscard]] quint16 FreePort(const QHostAddress &address = QHostAddress(QHostAddress::LocalHost));
