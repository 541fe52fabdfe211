// The window as an operator uses it: value under the pointer, wheel zoom, double-click back to
// everything, and a followed log that grows.
#include "ChartBuilder.h"
#include "LogFixture.h"
#include "PlotWindow.h"

#include <QDateTimeAxis>
#include <QtTest>

namespace {

const QString kLogName = QStringLiteral("ЖЫМ№3 09.12.2017 14_05_33.txt");

QList<Record> Hour() {
    QList<Record> records;
    for (int minute = 0; minute < 60; ++minute)
        records.append({QTime(14, 6).addSecs(60 * minute).toString(QStringLiteral("HH:mm:ss")),
                        QString::number(20 + minute / 10), "1", "2(4)", "1(1)"});
    return records;
}

QDateTimeAxis *TimeAxis(PlotWindow &window) {
    return qobject_cast<QDateTimeAxis *>(window.view()->chart()->axes(Qt::Horizontal).first());
}

} // namespace

class tst_PlotWindow : public QObject {
    Q_OBJECT

private slots:
    void pointerZoomAndFollow() {
        QTemporaryDir folder;
        const QString path = folder.filePath(kLogName);
        QVERIFY(WriteFile(path, LogBytes(Hour())));
        InputSettings input; // day.month.year, 24-hour, comma
        input.allowEmptyFiles = true;
        PlotWindow window({path}, input, std::nullopt, true, LoadInput({path}, input));
        window.resize(1000, 600);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        ChartView *view = window.view();
        const QRectF area = view->chart()->plotArea();

        // The last reading sits at the right edge of the plot area.
        QTest::mouseMove(view->viewport(), QPoint(int(area.right()) - 1, int(area.center().y())));
        QTRY_COMPARE(
            window.pointerText(),
            QStringLiteral("09.12.2017 15:05:00  25 °C  программа 1  шаг 2(4)  цикл 1(1)"));

        const qint64 fullSpan = TimeAxis(window)->min().msecsTo(TimeAxis(window)->max());
        QWheelEvent wheel(area.center(), view->mapToGlobal(area.center().toPoint()), QPoint(),
                          QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view->viewport(), &wheel);
        const qint64 zoomedSpan = TimeAxis(window)->min().msecsTo(TimeAxis(window)->max());
        QVERIFY2(zoomedSpan < fullSpan * 0.9, qPrintable(QString::number(zoomedSpan)));

        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, area.center().toPoint());
        QCOMPARE(TimeAxis(window)->min().msecsTo(TimeAxis(window)->max()), fullSpan);

        // A record appended to the followed log widens the chart by its minute.
        QFile log(path);
        QVERIFY(log.open(QIODevice::Append));
        log.write(RecordBytes({"15:06:00", "30", "1", "3(4)", "1(1)"}));
        log.close();
        QTRY_COMPARE_WITH_TIMEOUT(TimeAxis(window)->min().msecsTo(TimeAxis(window)->max()),
                                  fullSpan + 60000, 15000);
    }
};

QTEST_MAIN(tst_PlotWindow)
#include "tst_PlotWindow.moc"
