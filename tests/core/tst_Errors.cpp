#include "core/Errors.h"

#include <QtTest>

class tst_Errors : public QObject {
    Q_OBJECT

private slots:
    void errorBoxText_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("text");
        QTest::newRow("letter at the end gets a full stop") << "File access denied"
                                                            << "File access denied.";
        QTest::newRow("quote at the end gets a full stop") << "'x' is not a valid integer value"
                                                           << "'x' is not a valid integer value.";
        QTest::newRow("digit at the end gets a full stop") << "I/O error 5"
                                                           << "I/O error 5.";
        QTest::newRow("full stop at the end stays") << "Done."
                                                    << "Done.";
        QTest::newRow("blank at the end stays") << "I/O error "
                                                << "I/O error ";
        QTest::newRow("minus (45) at the end stays") << "value -"
                                                     << "value -";
        QTest::newRow("slash (47) at the end gets a full stop") << "a/"
                                                                << "a/.";
        QTest::newRow("Cyrillic at the end gets a full stop") << "Ошибка"
                                                              << "Ошибка.";
        QTest::newRow("empty stays empty") << ""
                                           << "";
    }
    void errorBoxText() {
        QFETCH(QString, message);
        QFETCH(QString, text);
        QCOMPARE(ErrorBoxText(message), text);
    }
};

QTEST_APPLESS_MAIN(tst_Errors)
#include "tst_Errors.moc"
