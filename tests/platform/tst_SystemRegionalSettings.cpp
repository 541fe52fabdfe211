#include "platform/SystemRegionalSettings.h"

#include <QtTest>

#include <clocale>

class tst_SystemRegionalSettings : public QObject {
    Q_OBJECT

private slots:
    void readsFormatsOfTheCurrentLocale_data();
    void readsFormatsOfTheCurrentLocale();
};

void tst_SystemRegionalSettings::readsFormatsOfTheCurrentLocale_data() {
    QTest::addColumn<QByteArray>("locale");
    QTest::addColumn<QString>("shortDate");
    QTest::addColumn<QString>("longTime");
    QTest::addColumn<QChar>("separator");
    QTest::newRow("C") << QByteArray("C") << "%m/%d/%y"
                       << "%H:%M:%S" << QChar('.');
    QTest::newRow("C.UTF-8") << QByteArray("C.UTF-8") << "%m/%d/%y"
                             << "%H:%M:%S" << QChar('.');
    QTest::newRow("ru_RU.UTF-8") << QByteArray("ru_RU.UTF-8") << "%d.%m.%Y"
                                 << "%T" << QChar(',');
}

void tst_SystemRegionalSettings::readsFormatsOfTheCurrentLocale() {
    QFETCH(QByteArray, locale);
    QFETCH(QString, shortDate);
    QFETCH(QString, longTime);
    QFETCH(QChar, separator);
    if (!std::setlocale(LC_ALL, locale.constData()))
        QSKIP("locale not installed");
    const RegionalSettings settings = ReadSystemRegionalSettings();
    std::setlocale(LC_ALL, "C");
    QCOMPARE(settings.shortDateFormat, shortDate);
    QCOMPARE(settings.longTimeFormat, longTime);
    QCOMPARE(settings.decimalSeparator, separator);
}

QTEST_GUILESS_MAIN(tst_SystemRegionalSettings)
#include "tst_SystemRegionalSettings.moc"
