#include "core/RegionalSettings.h"

#include <QtTest>

namespace {

std::tm Moment(int hour = 14) {
    std::tm moment{};
    moment.tm_year = 2017 - 1900;
    moment.tm_mon = 11;
    moment.tm_mday = 9;
    moment.tm_hour = hour;
    moment.tm_min = 5;
    moment.tm_sec = 33;
    moment.tm_wday = 6;
    moment.tm_yday = 342;
    return moment;
}

RegionalSettings Settings(const QString &date, const QString &time) {
    RegionalSettings settings;
    settings.shortDateFormat = date;
    settings.longTimeFormat = time;
    return settings;
}

} // namespace

class tst_RegionalSettings : public QObject {
    Q_OBJECT

private slots:
    void format_data() {
        QTest::addColumn<QString>("dateFormat");
        QTest::addColumn<QString>("timeFormat");
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("time");
        QTest::addColumn<int>("hour");
        QTest::newRow("day.month.year, 24 hours") << "%d.%m.%Y"
                                                  << "%H:%M:%S"
                                                  << "09.12.2017"
                                                  << "14:05:33" << 14;
        QTest::newRow("C locale forms") << "%m/%d/%y"
                                        << "%T"
                                        << "12/09/17"
                                        << "14:05:33" << 14;
        QTest::newRow("hours with leading zero") << "%d.%m.%Y"
                                                 << "%H:%M:%S"
                                                 << "09.12.2017"
                                                 << "09:05:33" << 9;
        QTest::newRow("hours without leading zero") << "%d.%m.%Y"
                                                    << "%k:%M:%S"
                                                    << "09.12.2017"
                                                    << " 9:05:33" << 9;
        QTest::newRow("literal text passes through") << "%Y г."
                                                     << "%H ч %M мин"
                                                     << "2017 г."
                                                     << "14 ч 05 мин" << 14;
        QTest::newRow("empty formats") << ""
                                       << ""
                                       << ""
                                       << "" << 14;
    }
    void format() {
        QFETCH(QString, dateFormat);
        QFETCH(QString, timeFormat);
        QFETCH(QString, date);
        QFETCH(QString, time);
        QFETCH(int, hour);
        const RegionalSettings settings = Settings(dateFormat, timeFormat);
        QCOMPARE(FormatDate(settings, Moment(hour)), date);
        QCOMPARE(FormatTime(settings, Moment(hour)), time);
    }

    void defaultsAreRussianForms() {
        const RegionalSettings settings;
        QCOMPARE(FormatDate(settings, Moment()), QString("09.12.2017"));
        QCOMPARE(FormatTime(settings, Moment()), QString("14:05:33"));
        QCOMPARE(settings.decimalSeparator, QLatin1Char(','));
    }

    void clockText() {
        QCOMPARE(ClockText(RegionalSettings{}, Moment(), Moment()),
                 QString("09.12.2017  14:05:33"));
    }

    void longResultIsNotCut() {
        const QString format = QString("%Y-").repeated(200);
        QCOMPARE(FormatDate(Settings(format, ""), Moment()), QString("2017-").repeated(200));
    }
};

QTEST_APPLESS_MAIN(tst_RegionalSettings)
#include "tst_RegionalSettings.moc"
