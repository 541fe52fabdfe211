#include "core/PortMapping.h"

#include <QtTest>

class tst_PortMapping : public QObject {
    Q_OBJECT

private slots:
    void sourcesInOrder_data() {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("environment");
        QTest::addColumn<QString>("userFile");
        QTest::addColumn<QString>("systemFile");
        QTest::addColumn<QString>("device");

        const QString user = "COM1=/dev/ttyUSB1\n";
        const QString system = "COM1=/dev/ttyUSB2\nCOM2=/dev/ttyUSB3\n";
        QTest::newRow("nothing mapped") << "COM1"
                                        << ""
                                        << ""
                                        << ""
                                        << "/dev/ttyS0";
        QTest::newRow("COM5 without mapping") << "COM5"
                                              << ""
                                              << ""
                                              << ""
                                              << "/dev/ttyS4";
        QTest::newRow("environment wins over both files")
            << "COM1"
            << "/tmp/ttySIM" << user << system << "/tmp/ttySIM";
        QTest::newRow("user's file wins over the system's")
            << "COM1"
            << "" << user << system << "/dev/ttyUSB1";
        QTest::newRow("system's file when the user's has no line for the port")
            << "COM2"
            << "" << user << system << "/dev/ttyUSB3";
        QTest::newRow("system's file alone") << "COM1"
                                             << ""
                                             << "" << system << "/dev/ttyUSB2";
        QTest::newRow("files map other ports only") << "COM3"
                                                    << "" << user << system << "/dev/ttyS2";
        QTest::newRow("empty path in the user's file falls through") << "COM1"
                                                                     << ""
                                                                     << "COM1=\n"
                                                                     << system << "/dev/ttyUSB2";
        QTest::newRow("a device path is left alone")
            << "/dev/ttyACM0"
            << "/tmp/x" << user << system << "/dev/ttyACM0";
        QTest::newRow("lower-case com is not a port name") << "com1"
                                                           << "" << user << ""
                                                           << "com1";
    }

    void sourcesInOrder() {
        QFETCH(QString, port);
        QFETCH(QString, environment);
        QFETCH(QString, userFile);
        QFETCH(QString, systemFile);
        QFETCH(QString, device);
        QCOMPARE(DevicePathFromSources(port, {environment, userFile, systemFile}), device);
    }

    void fileLines_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("device"); // for COM1; empty: no mapping

        QTest::newRow("plain") << "COM1=/dev/ttyUSB0"
                               << "/dev/ttyUSB0";
        QTest::newRow("comments and blank lines")
            << "# RS-485 adapter\n\n   \n# COM1=/dev/ttyS9\nCOM1=/dev/ttyUSB0\n"
            << "/dev/ttyUSB0";
        QTest::newRow("spaces around name and path, CR LF")
            << "  COM1 =  /dev/serial/by-id/usb-adapter-if00-port0 \r\n"
            << "/dev/serial/by-id/usb-adapter-if00-port0";
        QTest::newRow("later line wins") << "COM1=/dev/ttyUSB0\nCOM1=/dev/ttyUSB1"
                                         << "/dev/ttyUSB1";
        QTest::newRow("COM10 is not COM1") << "COM10=/dev/ttyUSB0"
                                           << "";
        QTest::newRow("line without equals sign") << "COM1 /dev/ttyUSB0"
                                                  << "";
        QTest::newRow("commented-out line") << "#COM1=/dev/ttyUSB0"
                                            << "";
        QTest::newRow("path holding an equals sign") << "COM1=/tmp/a=b"
                                                     << "/tmp/a=b";
        QTest::newRow("empty text") << ""
                                    << "";
    }

    void fileLines() {
        QFETCH(QString, text);
        QFETCH(QString, device);
        const std::optional<QString> mapped = MappedDevice(text, QStringLiteral("COM1"));
        QCOMPARE(mapped.value_or(QString()), device);
    }

    void comPortNumbers() {
        QCOMPARE(ComPortNumber("COM1"), std::optional<int>(1));
        QCOMPARE(ComPortNumber("COM12"), std::optional<int>(12));
        QCOMPARE(ComPortNumber("COM0"), std::nullopt);
        QCOMPARE(ComPortNumber("COM01"), std::nullopt);
        QCOMPARE(ComPortNumber("COM"), std::nullopt);
        QCOMPARE(ComPortNumber(" COM1"), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(tst_PortMapping)
#include "tst_PortMapping.moc"
