// The real lookup: the environment and the user's ports.conf in a scratch configuration folder
// ($XDG_CONFIG_HOME), so that the test touches neither the real home nor /etc.
#include "platform/PortNames.h"

#include <QtTest>

class tst_PortNames : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(config_.isValid());
        qputenv("XDG_CONFIG_HOME", config_.path().toLocal8Bit());
        QVERIFY(QDir(config_.path()).mkpath("kalvora"));
        QFile file(config_.path() + "/kalvora/ports.conf");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("# adapters on this PC\nCOM4=/dev/serial/by-id/usb-adapter-port0\n");
    }

    void userFileMapsAPort() {
        qunsetenv("KALVORA_COM4");
        QCOMPARE(DevicePathForPort("COM4"), QString("/dev/serial/by-id/usb-adapter-port0"));
    }

    void environmentWinsOverTheUserFile() {
        qputenv("KALVORA_COM4", "/tmp/ttySIM");
        QCOMPARE(DevicePathForPort("COM4"), QString("/tmp/ttySIM"));
        qunsetenv("KALVORA_COM4");
    }

    void missingUserFileMapsNothing() {
        const QTemporaryDir empty;
        qputenv("XDG_CONFIG_HOME", empty.path().toLocal8Bit());
        qunsetenv("KALVORA_COM4");
        QVERIFY(DevicePathForPort("COM4") != QString("/dev/serial/by-id/usb-adapter-port0"));
        qputenv("XDG_CONFIG_HOME", config_.path().toLocal8Bit());
    }

private:
    QTemporaryDir config_;
};

QTEST_GUILESS_MAIN(tst_PortNames)
#include "tst_PortNames.moc"
