#include "core/LogLocation.h"

#include <QtTest>

class tst_LogLocation : public QObject {
    Q_OBJECT

private slots:
    void folderByExecutablePath_data() {
        QTest::addColumn<QString>("executable");
        QTest::addColumn<QString>("folder");

        QTest::newRow("installed") << "/usr/bin/kalvora"
                                   << "/home/lab/Documents/Kalvora/";
        QTest::newRow("installed locally") << "/usr/local/bin/kalvora"
                                           << "/home/lab/Documents/Kalvora/";
        QTest::newRow("build tree") << "/work/kalvora/build/kalvora"
                                    << "/work/kalvora/build/";
        QTest::newRow("build tree in a home") << "/home/lab/src/usr/bin/kalvora"
                                              << "/home/lab/src/usr/bin/";
        QTest::newRow("a folder merely starting with usr") << "/usrdata/kalvora"
                                                           << "/usrdata/";
        QTest::newRow("leaving /usr through ..") << "/usr/../opt/kalvora/kalvora"
                                                 << "/opt/kalvora/";
    }

    void folderByExecutablePath() {
        QFETCH(QString, executable);
        QFETCH(QString, folder);
        QCOMPARE(LogFolderForExecutable(executable, QStringLiteral("/home/lab/Documents")), folder);
        QCOMPARE(IsInstalledExecutable(executable), folder.startsWith("/home/lab/Documents/"));
    }

    void documentsFolderWithTrailingSlash() {
        QCOMPARE(LogFolderForExecutable("/usr/bin/kalvora", "/home/lab/Documents/"),
                 QString("/home/lab/Documents/Kalvora/"));
    }
};

QTEST_GUILESS_MAIN(tst_LogLocation)
#include "tst_LogLocation.moc"
