#include "HexBytes.h"
#include "ModbusFrames.h"
#include "core/ModbusRtu.h"

#include <QtTest>
#include <array>

namespace {

ReceiveBuffer BufferWith(int position, const Bytes &bytes) {
    ReceiveBuffer buffer{};
    for (std::size_t i = 0; i < bytes.size(); ++i)
        buffer[position + i] = bytes[i];
    return buffer;
}

// A well-formed reply to the read of 15 input registers, registers counting 1, 2, 3...
Bytes ValidReply(std::uint8_t address) {
    Bytes reply{address, 4, 30};
    for (int k = 0; k < 15; ++k) {
        reply.push_back(0);
        reply.push_back(static_cast<std::uint8_t>(k + 1));
    }
    return WithCrc(reply);
}

} // namespace

class tst_ModbusRtu : public QObject {
    Q_OBJECT

private slots:
    void crc_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("last");
        QTest::addColumn<int>("expected");

        QByteArray all(256, '\0');
        for (int i = 0; i < 256; ++i)
            all[i] = static_cast<char>(i);
        QTest::newRow("catalogue check value") << QByteArray("123456789") << 0 << 8 << 0x4B37;
        QTest::newRow("one zero byte") << QByteArray(1, '\0') << 0 << 0 << 0x40BF;
        QTest::newRow("range inside the array")
            << QByteArray("xyz123456789abc") << 3 << 11 << 0x4B37;
        QTest::newRow("last before first reads nothing") << QByteArray(8, '\1') << 5 << 4 << 0xFFFF;
        QTest::newRow("0 to 255 covers 256 bytes") << all << 0 << 255 << 0xDE6C;
        QTest::newRow("256 zero bytes") << QByteArray(256, '\0') << 0 << 255 << 0x64BF;
    }
    void crc() {
        QFETCH(QByteArray, data);
        QFETCH(int, first);
        QFETCH(int, last);
        QFETCH(int, expected);
        const QByteArray before = data;
        const auto *bytes = reinterpret_cast<const std::uint8_t *>(data.constData());
        const int crc =
            ModbusCrc16(static_cast<std::uint8_t>(first), static_cast<std::uint8_t>(last), bytes);
        QCOMPARE(crc, expected);
        QCOMPARE(data, before);
    }

    void readRequest_data() {
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("frame");
        QTest::newRow("reading cycle, address 1") << 1 << 15 << "01 04 00 00 00 0F B0 0E";
        QTest::newRow("scan probe, address 1") << 1 << 3 << "01 04 00 00 00 03 B0 0B";
        QTest::newRow("address 0") << 0 << 15 << "00 04 00 00 00 0F B1 DF";
        QTest::newRow("address 250") << 250 << 15 << "FA 04 00 00 00 0F A5 85";
    }
    void readRequest() {
        QFETCH(int, address);
        QFETCH(int, count);
        QFETCH(QString, frame);
        const auto request =
            BuildReadRequest(static_cast<std::uint8_t>(address), kReadInputRegisters,
                             static_cast<std::uint8_t>(count));
        QCOMPARE(HexText(Bytes(request.begin(), request.end())), frame);
    }

    void writeFrame() {
        QCOMPARE(HexText(BuildWriteFrame(1, 16, {1})), QString("01 10 00 10 00 01 02 00 01 65 00"));
        // 16-bit values and start register go high byte first.
        const Bytes frame = BuildWriteFrame(7, 0x0102, {0xABCD, 0x0001});
        QCOMPARE(frame.size(), std::size_t{13});
        QCOMPARE(HexText(Bytes(frame.begin(), frame.begin() + 11)),
                 QString("07 10 01 02 00 02 04 AB CD 00 01"));
        QCOMPARE(frame, WithCrc(Bytes(frame.begin(), frame.begin() + 11)));
    }

    void writeFrameRejectsImpossibleQuantities() {
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, BuildWriteFrame(1, 0, {}));
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument,
                                 BuildWriteFrame(1, 0, std::vector<std::uint16_t>(124, 0)));
    }

    void findReply_data() {
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("bytes");
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("expected");
        QTest::newRow("reply at the start") << 0 << "01 04 1E 00 00" << 1 << 0;
        QTest::newRow("one stray byte before the reply") << 0 << "FF 01 04 1E" << 1 << 1;
        QTest::newRow("zeros hold no reply for address 0") << 0 << "" << 0 << -1;
        QTest::newRow("zeros hold no reply for address 1") << 0 << "" << 1 << -1;
        QTest::newRow("the request's own copy matches") << 0 << "05 04 00 00 00 0F" << 5 << 0;
        QTest::newRow("pair at 254 and 255") << 254 << "07 04" << 7 << 254;
        QTest::newRow("address alone at 255") << 255 << "07" << 7 << -1;
        QTest::newRow("exception reply") << 0 << "01 84 02 C2 C1" << 1 << -1;
        QTest::newRow("reply of another address") << 0 << "02 04 1E" << 1 << -1;
        QTest::newRow("address beyond a byte never matches") << 0 << "01 04" << 257 << -1;
        QTest::newRow("negative address never matches") << 0 << "FF 04" << -1 << -1;
    }
    void findReply() {
        QFETCH(int, position);
        QFETCH(QString, bytes);
        QFETCH(int, address);
        QFETCH(int, expected);
        const ReceiveBuffer buffer = BufferWith(position, HexBytes(bytes));
        QCOMPARE(FindReply(buffer.data(), address, kReadInputRegisters), expected);
    }

    void decodableReply_data() {
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("corruptIndex");
        QTest::addColumn<int>("expectedAddress");
        QTest::addColumn<bool>("decodable");
        // corruptIndex: a byte of the reply that is changed before the check, -1 for none.
        QTest::newRow("sound reply") << 0 << -1 << 9 << true;
        QTest::newRow("bad CRC low byte") << 0 << 33 << 9 << false;
        QTest::newRow("bad CRC high byte") << 0 << 34 << 9 << false;
        QTest::newRow("damaged data") << 0 << 20 << 9 << false;
        QTest::newRow("wrong byte count") << 0 << 2 << 9 << false;
        QTest::newRow("other address") << 0 << -1 << 8 << false;
        QTest::newRow("reply not at the start") << 1 << -1 << 9 << false;
    }
    void decodableReply() {
        QFETCH(int, position);
        QFETCH(int, corruptIndex);
        QFETCH(int, expectedAddress);
        QFETCH(bool, decodable);
        Bytes reply = ValidReply(9);
        if (corruptIndex >= 0)
            reply[corruptIndex] ^= 0x01;
        const ReceiveBuffer buffer = BufferWith(position, reply);
        QCOMPARE(IsDecodableReply(buffer.data(), expectedAddress), decodable);
    }

    void wrongByteCountWithMatchingCrcIsNotDecodable() {
        Bytes reply = ValidReply(9);
        reply[2] = 28;
        reply = WithCrc(Bytes(reply.begin(), reply.begin() + 33));
        const ReceiveBuffer buffer = BufferWith(0, reply);
        QVERIFY(!IsDecodableReply(buffer.data(), 9));
    }
};

QTEST_APPLESS_MAIN(tst_ModbusRtu)
#include "tst_ModbusRtu.moc"
