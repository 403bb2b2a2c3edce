#include "instanceguard.h"
#include "programerror.h"
#include "systemhelpers.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Sets an environment variable for the scope of a test and restores it afterwards.
class ScopedEnv
{
public:
    ScopedEnv(const char *name, const QByteArray &value)
        : mName(name), mHad(qEnvironmentVariableIsSet(name))
    {
        mOld = qgetenv(name);
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~ScopedEnv()
    {
        if (mHad)
            qputenv(mName, mOld);
        else
            qunsetenv(mName);
    }

private:
    const char *mName;
    bool mHad;
    QByteArray mOld;
};

mode_t modeOf(const QString &path)
{
    struct stat info
    {
    };
    ::lstat(QFile::encodeName(path).constData(), &info);
    return info.st_mode & 07777;
}

} // namespace

class TestSystemHelpers : public QObject
{
    Q_OBJECT

private slots:
    void folderExists_data();
    void folderExists();
    void tempFolderIsTheRuntimeFolder();
    void tempFolderFallsBackToPrivateFolder();
    void tempFolderRefusesPlantedLink();
    void tempFolderClosesTooOpenFolder();
    void tempFolderIgnoresSharedRuntimeFolder();
    void stateFolder();
    void instanceGuardRefusesSecondCopy();
    void instanceGuardTakesOverStaleLock();
    void soundReturnsAtOnce();
};

void TestSystemHelpers::folderExists_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<bool>("expected");
    QTest::newRow("existing") << "site" << true;
    QTest::newRow("existing-trailing-slash") << "site/" << true;
    QTest::newRow("missing") << "nothing" << false;
    QTest::newRow("file-is-no-folder") << "file.txt" << false;
    QTest::newRow("link-to-folder") << "link" << true;
    // It exists, but the run could not list it: no valid pages to publish there.
    QTest::newRow("not-listable") << "locked" << false;
}

namespace {

// FolderExists as an ordinary user sees it: root lists any folder, so as root the answer is asked
// in a child process that has become "nobody".
bool folderExistsWithoutPrivileges(const QString &path)
{
    if (::getuid() != 0)
        return FolderExists(path);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(2);
        ::_exit(FolderExists(path) ? 1 : 0);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return false;
    return WEXITSTATUS(status) == 1;
}

} // namespace

void TestSystemHelpers::folderExists()
{
    QFETCH(QString, relative);
    QFETCH(bool, expected);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("site")));
    QFile file(dir.filePath(QStringLiteral("file.txt")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(
        QFile::link(dir.filePath(QStringLiteral("site")), dir.filePath(QStringLiteral("link"))));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("locked")));
    QVERIFY(::chmod(QFile::encodeName(dir.filePath(QStringLiteral("locked"))).constData(), 0) == 0);
    QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
    QCOMPARE(folderExistsWithoutPrivileges(dir.path() + QLatin1Char('/') + relative), expected);
    QVERIFY(!FolderExists(QString()));
}

void TestSystemHelpers::tempFolderIsTheRuntimeFolder()
{
    QTemporaryDir runtime;
    QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ScopedEnv env("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    QCOMPARE(GetTempFolder(), runtime.path() + QLatin1Char('/'));
}

void TestSystemHelpers::tempFolderFallsBackToPrivateFolder()
{
    QTemporaryDir tmp;
    ScopedEnv runtime("XDG_RUNTIME_DIR", QByteArray());
    ScopedEnv tmpdir("TMPDIR", QFile::encodeName(tmp.path()));
    const QString expected = tmp.path() + QStringLiteral("/parcelup-%1/").arg(::getuid());
    QCOMPARE(GetTempFolder(), expected);
    QCOMPARE(modeOf(expected), mode_t(0700));
    // A second call finds the folder it made and accepts it.
    QCOMPARE(GetTempFolder(), expected);
}

void TestSystemHelpers::tempFolderRefusesPlantedLink()
{
    QTemporaryDir tmp;
    QTemporaryDir elsewhere;
    ScopedEnv runtime("XDG_RUNTIME_DIR", QByteArray());
    ScopedEnv tmpdir("TMPDIR", QFile::encodeName(tmp.path()));
    const QString planted = tmp.path() + QStringLiteral("/parcelup-%1").arg(::getuid());
    QVERIFY(QFile::link(elsewhere.path(), planted));
    QVERIFY_THROWS_EXCEPTION(ProgramError, (void)GetTempFolder());
}

void TestSystemHelpers::tempFolderClosesTooOpenFolder()
{
    QTemporaryDir tmp;
    ScopedEnv runtime("XDG_RUNTIME_DIR", QByteArray());
    ScopedEnv tmpdir("TMPDIR", QFile::encodeName(tmp.path()));
    const QString folder = tmp.path() + QStringLiteral("/parcelup-%1").arg(::getuid());
    QVERIFY(QDir().mkdir(folder));
    ::chmod(QFile::encodeName(folder).constData(), 0777);
    QCOMPARE(GetTempFolder(), folder + QLatin1Char('/'));
    QCOMPARE(modeOf(folder), mode_t(0700));
}

void TestSystemHelpers::tempFolderIgnoresSharedRuntimeFolder()
{
    QTemporaryDir tmp;
    QTemporaryDir shared;
    ::chmod(QFile::encodeName(shared.path()).constData(), 0777);
    ScopedEnv runtime("XDG_RUNTIME_DIR", QFile::encodeName(shared.path()));
    ScopedEnv tmpdir("TMPDIR", QFile::encodeName(tmp.path()));
    QCOMPARE(GetTempFolder(), tmp.path() + QStringLiteral("/parcelup-%1/").arg(::getuid()));
}

void TestSystemHelpers::stateFolder()
{
    QTemporaryDir state;
    ScopedEnv env("XDG_STATE_HOME", QFile::encodeName(state.path()));
    const QString folder = GetStateFolder();
    QCOMPARE(folder, state.path() + QStringLiteral("/vellumix/parcelup/"));
    QVERIFY(QFileInfo(folder).isDir());
    QCOMPARE(modeOf(folder), mode_t(0700));
}

void TestSystemHelpers::instanceGuardRefusesSecondCopy()
{
    QTemporaryDir dir;
    const QString lock = dir.filePath(QStringLiteral("parcelup.lock"));
    {
        InstanceGuard first(lock);
        QVERIFY(first.tryAcquire());
        InstanceGuard second(lock);
        QVERIFY(!second.tryAcquire());
    }
    // Released with the first guard: the next start runs.
    InstanceGuard third(lock);
    QVERIFY(third.tryAcquire());
}

void TestSystemHelpers::instanceGuardTakesOverStaleLock()
{
    QTemporaryDir dir;
    const QString lock = dir.filePath(QStringLiteral("parcelup.lock"));

    // A lock in the real format, left behind by a process that has ended.
    QByteArray contents;
    {
        QLockFile model(lock);
        QVERIFY(model.tryLock(0));
        QFile file(lock);
        QVERIFY(file.open(QIODevice::ReadOnly));
        contents = file.readAll();
    }
    QProcess finished;
    finished.start(QStringLiteral("true"), {});
    QVERIFY(finished.waitForStarted());
    const qint64 deadPid = finished.processId();
    QVERIFY(finished.waitForFinished());
    contents.replace(0, contents.indexOf('\n'), QByteArray::number(deadPid));
    QFile stale(lock);
    QVERIFY(stale.open(QIODevice::WriteOnly));
    stale.write(contents);
    stale.close();

    InstanceGuard guard(lock);
    QVERIFY(guard.tryAcquire());
}

void TestSystemHelpers::soundReturnsAtOnce()
{
    QElapsedTimer timer;
    timer.start();
    PlaySystemSound(QStringLiteral("SystemAsterisk"));
    PlaySystemSound(QStringLiteral("SystemHand"));
    PlaySystemSound(QStringLiteral("NoSuchSound"));
    // Asynchronous: even with a sound server the calls do not wait for the sounds to end.
    QVERIFY2(timer.elapsed() < 3000, "playing a sound must not wait for it");
}

QTEST_GUILESS_MAIN(TestSystemHelpers)
#include "tst_systemhelpers.moc"
