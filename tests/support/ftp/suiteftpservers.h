#pragma once

#include "testftpserver.h"

#include <QString>
#include <QTemporaryDir>
#include <map>
#include <memory>

// The servers a suite shares between its cases where their options do not change: one of each
// kind with the default options, started on first use and stopped with the suite, so that a suite
// pays for starting a server once instead of once per case. Cases run one after another; each
// finds the server idle and its folder empty, as a server of its own would be. A case that changes
// the server's options, stops it or freezes it starts its own.
class SuiteFtpServers
{
public:
    // The server of that kind, started if it is not running yet, once every control connection to
    // it has closed and its folder has been emptied. Null, and error set, when it cannot be.
    [[nodiscard]] TestFtpServer *freshServer(TestFtpServer::Kind kind, QString *error);

private:
    QTemporaryDir mRoot;
    std::map<TestFtpServer::Kind, std::unique_ptr<TestFtpServer>> mServers;
};
