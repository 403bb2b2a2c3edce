#include "windowface.h"

#include <QTest>

// The window module resolves the session, start-up and the terminal face from the program that
// loads it. This test is linked as the program is and loads the module through the program's own
// loader, before any application object exists, as the program does.
class TestWindowModule : public QObject
{
    Q_OBJECT

private slots:
    void everySymbolOfTheWindowIsExported();
};

void TestWindowModule::everySymbolOfTheWindowIsExported()
{
    QString error;
    const WindowFaceEntry entry =
        LoadWindowFaceFrom(QStringLiteral(PARCELUP_WINDOW_MODULE_DIR), &error);
    QVERIFY2(entry, qPrintable(error));
    QVERIFY(error.isEmpty());
}

QTEST_APPLESS_MAIN(TestWindowModule)
#include "tst_windowmodule.moc"
