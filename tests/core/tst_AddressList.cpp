// Bus address lists as users write them, in the order each tool asks for.
#include "core/AddressList.h"

#include <QtTest>

Q_DECLARE_METATYPE(AddressOrder)

class tst_AddressList : public QObject {
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
};

void tst_AddressList::parse_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<int>>("ascending"); // empty: rejected
    QTest::addColumn<QList<int>>("asWritten");
    QTest::newRow("list and range")
        << "1,3,5-8" << QList<int>{1, 3, 5, 6, 7, 8} << QList<int>{1, 3, 5, 6, 7, 8};
    QTest::newRow("repeats") << "8,1,1-2" << QList<int>{1, 2, 8} << QList<int>{8, 1, 2};
    QTest::newRow("a range over an earlier address")
        << "5,3-6" << QList<int>{3, 4, 5, 6} << QList<int>{5, 3, 4, 6};
    QTest::newRow("edges") << "0,250" << QList<int>{0, 250} << QList<int>{0, 250};
    QTest::newRow("leading zeros") << "007" << QList<int>{7} << QList<int>{7};
    QTest::newRow("single range") << "5-5" << QList<int>{5} << QList<int>{5};
    QTest::newRow("251") << "251" << QList<int>{} << QList<int>{};
    QTest::newRow("range to 251") << "249-251" << QList<int>{} << QList<int>{};
    QTest::newRow("downward range") << "8-5" << QList<int>{} << QList<int>{};
    QTest::newRow("blank") << "1, 2" << QList<int>{} << QList<int>{};
    QTest::newRow("empty item") << "1,,2" << QList<int>{} << QList<int>{};
    QTest::newRow("trailing comma") << "1," << QList<int>{} << QList<int>{};
    QTest::newRow("negative") << "-1" << QList<int>{} << QList<int>{};
    QTest::newRow("open range") << "5-" << QList<int>{} << QList<int>{};
    QTest::newRow("all") << "all" << QList<int>{} << QList<int>{};
    QTest::newRow("empty") << "" << QList<int>{} << QList<int>{};
}

void tst_AddressList::parse() {
    QFETCH(QString, text);
    QFETCH(QList<int>, ascending);
    QFETCH(QList<int>, asWritten);
    for (const auto &[order, addresses] : {std::pair{AddressOrder::Ascending, ascending},
                                           std::pair{AddressOrder::AsWritten, asWritten}}) {
        const AddressListResult result = ParseAddressList(text, order);
        QCOMPARE(QList<int>(result.addresses.begin(), result.addresses.end()), addresses);
        QCOMPARE(result.error.isEmpty(), !addresses.isEmpty());
    }
}

QTEST_APPLESS_MAIN(tst_AddressList)
#include "tst_AddressList.moc"
