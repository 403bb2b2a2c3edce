#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <memory>

// Small pieces the server fixtures share.

// The source tree, where the servers the tests start (tests/servers/) live.
[[nodiscard]] QString TestSourceDirectory();

// Runs a program to its end with the given standard input; false with a message when it cannot be
// started or does not exit with 0.
[[nodiscard]] bool RunToCompletion(const QString &program, const QStringList &arguments,
                                   const QByteArray &input, QString *error);

// A port that was free a moment ago, for servers that cannot be told to pick one themselves.
[[nodiscard]] quint16 FreePort(const QHostAddress &address = QHostAddress(QHostAddress::LocalHost));

class QProcess;

// Starts one of the servers in tests/servers/ (program with arguments, in a process group of its
// own so that stopping it reaches everything it started) and waits, with a deadline, for the
// "PORT <n>" line it prints once it accepts connections. Returns the process, or nothing with a
// message in error.
[[nodiscard]] std::unique_ptr<QProcess> StartPortReportingServer(const QString &program,
                                                                 const QStringList &arguments,
                                                                 quint16 *port, QString *error);
// The same for the Python servers, run with /usr/bin/python3.
[[nodiscard]] std::unique_ptr<QProcess> StartPortReportingHelper(const QStringList &arguments,
                                                                 quint16 *port, QString *error);
