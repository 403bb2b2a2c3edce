#include "pathhelpers.h"

#include <QTest>

class TestPathHelpers : public QObject
{
    Q_OBJECT

private slots:
    void joinRemotePath_data();
    void joinRemotePath();
    void joinLocalPath_data();
    void joinLocalPath();
    void toRemoteSlashes_data();
    void toRemoteSlashes();
    void splitPathAndFileName_data();
    void splitPathAndFileName();
    void splitRemotePath_data();
    void splitRemotePath();
    void nativeLocalPath_data();
    void nativeLocalPath();
};

void TestPathHelpers::joinRemotePath_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<QString>("expected");
    QTest::newRow("slashes-at-seam") << "/site/"
                                     << "/index.html"
                                     << "/site/index.html";
    QTest::newRow("backslashes-at-seam") << "a\\"
                                         << "\\b"
                                         << "a/b";
    QTest::newRow("backslash-then-slash") << "a\\/"
                                          << "b"
                                          << "a/b";
    QTest::newRow("slash-then-backslash") << "a/\\"
                                          << "b"
                                          << "a//b";
    QTest::newRow("two-slashes") << "a//"
                                 << "b"
                                 << "a//b";
    QTest::newRow("empty-first") << ""
                                 << "b"
                                 << "/b";
    QTest::newRow("empty-second") << "a"
                                  << ""
                                  << "a/";
    QTest::newRow("second-slash-then-backslash") << "a"
                                                 << "/\\b"
                                                 << "a/b";
    QTest::newRow("second-backslash-then-slash") << "a"
                                                 << "\\/b"
                                                 << "a//b";
    QTest::newRow("login-folder-and-configured") << "/home/u"
                                                 << "/htdocs"
                                                 << "/home/u/htdocs";
    QTest::newRow("root-login-folder") << "/"
                                       << "htdocs"
                                       << "/htdocs";
    QTest::newRow("empty-configured-folder") << "/home/u"
                                             << ""
                                             << "/home/u/";
}

void TestPathHelpers::joinRemotePath()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(QString, expected);
    QCOMPARE(JoinRemotePath(first, second), expected);
}

void TestPathHelpers::joinLocalPath_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<QString>("expected");
    QTest::newRow("drive-folder-and-sub") << "C:\\site\\"
                                          << "\\sub"
                                          << "C:\\site\\sub";
    QTest::newRow("drive-root") << "C:\\"
                                << "x"
                                << "C:\\x";
    QTest::newRow("empty-first") << ""
                                 << "x"
                                 << "x";
    QTest::newRow("site-folder-line") << "\\"
                                      << "x"
                                      << "x";
    QTest::newRow("empty-second") << "C:\\site"
                                  << ""
                                  << "C:\\site\\";
    QTest::newRow("relative-folders") << "bilder"
                                      << "icons"
                                      << "bilder\\icons";
    QTest::newRow("folder-line-and-file") << "bilder\\icons\\"
                                          << "pfeil.gif"
                                          << "bilder\\icons\\pfeil.gif";
}

void TestPathHelpers::joinLocalPath()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(QString, expected);
    QCOMPARE(JoinLocalPath(first, second), expected);
}

void TestPathHelpers::toRemoteSlashes_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("all-backslashes") << "\\a\\b\\"
                                     << "/a/b/";
    QTest::newRow("unchanged") << "/a/b.html"
                               << "/a/b.html";
    QTest::newRow("mixed") << "/home/u\\bilder"
                           << "/home/u/bilder";
}

void TestPathHelpers::toRemoteSlashes()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(ToRemoteSlashes(path), expected);
}

void TestPathHelpers::splitPathAndFileName_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("dir");
    QTest::addColumn<QString>("file");
    QTest::newRow("bare-name") << "index.html"
                               << ""
                               << "index.html";
    QTest::newRow("one-folder") << "bilder\\logo.gif"
                                << "bilder"
                                << "logo.gif";
    QTest::newRow("two-folders") << "sub\\deep\\page.html"
                                 << "sub\\deep"
                                 << "page.html";
    QTest::newRow("slash") << "/a/b"
                           << "/a"
                           << "b";
    QTest::newRow("mixed-last-wins") << "a/b\\c"
                                     << "a/b"
                                     << "c";
    QTest::newRow("trailing-separator") << "bilder\\"
                                        << "bilder"
                                        << "";
}

void TestPathHelpers::splitPathAndFileName()
{
    QFETCH(QString, path);
    QFETCH(QString, dir);
    QFETCH(QString, file);
    const PathAndFileName parts = SplitPathAndFileName(path);
    QCOMPARE(parts.DirName, dir);
    QCOMPARE(parts.FileName, file);
}

void TestPathHelpers::splitRemotePath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("absolute") << "/a/b" << QStringList{"a", "b"};
    QTest::newRow("relative") << "a/b" << QStringList{"a", "b"};
    QTest::newRow("backslashes") << "\\a\\b\\" << QStringList{"a", "b"};
    QTest::newRow("repeated") << "//a///b" << QStringList{"a", "b"};
    QTest::newRow("root") << "/" << QStringList{};
    QTest::newRow("empty") << "" << QStringList{};
    QTest::newRow("dots-are-names") << "/a/../." << QStringList{"a", "..", "."};
    QTest::newRow("case-kept") << "/Web" << QStringList{"Web"};
    QTest::newRow("deeper-than-16")
        << "/1/2/3/4/5/6/7/8/9/10/11/12/13/14/15/16/17/18"
        << QStringList{"1",  "2",  "3",  "4",  "5",  "6",  "7",  "8",  "9",
                       "10", "11", "12", "13", "14", "15", "16", "17", "18"};
}

void TestPathHelpers::splitRemotePath()
{
    QFETCH(QString, path);
    QFETCH(QStringList, names);
    QCOMPARE(SplitRemotePath(path), names);
}

void TestPathHelpers::nativeLocalPath_data()
{
    QTest::addColumn<QString>("site");
    QTest::addColumn<QString>("relative");
    QTest::addColumn<QString>("expected");
    QTest::newRow("file") << "/srv/site"
                          << "index.html"
                          << "/srv/site/index.html";
    QTest::newRow("nested") << "/srv/site"
                            << "Bilder\\Logo.gif"
                            << "/srv/site/Bilder/Logo.gif";
    QTest::newRow("site-with-slash") << "/srv/site/"
                                     << "a"
                                     << "/srv/site/a";
    QTest::newRow("site-folder-line") << "/srv/site"
                                      << "\\"
                                      << "/srv/site";
    QTest::newRow("root-site") << "/"
                               << "a\\b"
                               << "/a/b";
}

void TestPathHelpers::nativeLocalPath()
{
    QFETCH(QString, site);
    QFETCH(QString, relative);
    QFETCH(QString, expected);
    QCOMPARE(NativeLocalPath(site, relative), expected);
}

QTEST_GUILESS_MAIN(TestPathHelpers)
#include "tst_pathhelpers.moc"
