#include "classupload.h"
#include "ftpcomponenthost.h"
#include "ftpcontrol.h"
#include "sessionaccess.h"
#include "userfolders.h"

#include <QPointer>
#include <QTest>
#include <QTimer>

using Access = classUploadTestAccess;

// The session's own FTP component and watchdog: what reaches the session from them without any
// view in between.
class TestFtpComponentHost : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        mFolders = std::make_unique<IsolatedUserFolders>();
        Access::fresh();
    }
    void cleanup()
    {
        Access::fresh();
        mFolders.reset();
    }

    // The first setting that reaches the component creates it, and the watchdog ticks from then
    // on, once a second, before any window exists.
    void theFirstSettingStartsTheWatchDog()
    {
        classUpload &session = classUpload::instance();
        session.FTPHost(QStringLiteral("ftp.example.de"));
        QTimer &timer = session.ftpHost().watchDogTimer();
        QVERIFY(timer.isActive());
        QCOMPARE(timer.interval(), 1000);
        QCOMPARE(session.ftpHost().component().host(), QStringLiteral("ftp.example.de"));
    }

    void ticksReachTheWatchDog()
    {
        QTimer &timer = classUpload::instance().ftpHost().watchDogTimer();
        Access::setWatchDogTicks(0);
        timer.setInterval(10);
        QTRY_VERIFY_WITH_TIMEOUT(Access::state().watchDogTicks >= 2, 5000);
    }

    void componentEventsReachTheSession()
    {
        FtpControl &component = classUpload::instance().ftpHost().component();
        emit component.OperationComplete(0, 0, QString(), 0);
        QVERIFY(Access::state().done);
        Access::setWatchDogTicks(30);
        emit component.Activity(4096);
        QCOMPARE(Access::state().watchDogTicks, 0);
        Access::setWatchDogTicks(30);
        emit component.Activity(-1); // a line from the server
        QCOMPARE(Access::state().watchDogTicks, 0);
    }

    // Switching a running watchdog on again keeps its rhythm instead of postponing the next tick.
    void switchingTheWatchDog()
    {
        FtpComponentHost &host = classUpload::instance().ftpHost();
        QTimer &timer = host.watchDogTimer();
        timer.setInterval(60'000);
        timer.start();
        QTRY_VERIFY_WITH_TIMEOUT(timer.remainingTime() < 59'990, 5000);
        const int remaining = timer.remainingTime();
        host.setWatchDogEnabled(true);
        QVERIFY(timer.remainingTime() <= remaining);

        host.setWatchDogEnabled(false);
        QVERIFY(!timer.isActive());
        host.setWatchDogEnabled(true);
        QVERIFY(timer.isActive());
    }

    // A face releases the component while its application object exists; a later use gets a new
    // one, wired like the first.
    void releasedComponentIsReplacedOnUse()
    {
        classUpload &session = classUpload::instance();
        QPointer<FtpControl> first = &session.ftpHost().component();
        session.releaseFtpComponent();
        QVERIFY(first.isNull());
        FtpControl &second = session.ftpHost().component();
        emit second.OperationComplete(0, 0, QString(), 0);
        QVERIFY(Access::state().done);
    }

private:
    std::unique_ptr<IsolatedUserFolders> mFolders;
};

QTEST_GUILESS_MAIN(TestFtpComponentHost)
#include "tst_ftpcomponenthost.moc"
