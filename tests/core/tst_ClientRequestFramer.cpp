// Cutting a client's byte stream into requests and judging them, fed whole and one byte at a
// time: what may go on the shared bus, and what is dropped, with which verdict.
#include "HexBytes.h"
#include "ModbusFrames.h"

#include "core/ClientRequestFramer.h"

#include <QtTest>

Q_DECLARE_METATYPE(Bytes)

namespace {

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes &p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes Damaged(Bytes frame) {
    frame.back() ^= 0x01;
    return frame;
}

// "R:01 04 ..." for a request, "D:", "U:", "I:" for the drops, in order.
QStringList Described(const std::vector<ClientFrame> &frames) {
    QStringList out;
    for (const ClientFrame &f : frames) {
        const char *tag = f.verdict == ClientVerdict::Request       ? "R:"
                          : f.verdict == ClientVerdict::Damaged     ? "D:"
                          : f.verdict == ClientVerdict::Unsupported ? "U:"
                                                                    : "I:";
        out << QLatin1String(tag) + HexText(f.bytes);
    }
    return out;
}

const Bytes kRead = ReadRequest(2, 0, 15);
const Bytes kWrite = WriteRequest(2, 0, {1, 2, 3});

} // namespace

class tst_ClientRequestFramer : public QObject {
    Q_OBJECT
private slots:
    void streams_data() {
        QTest::addColumn<Bytes>("stream");
        QTest::addColumn<bool>("silenceAtEnd");
        QTest::addColumn<QStringList>("frames");
        const auto r = [](const Bytes &b) { return QStringLiteral("R:") + HexText(b); };
        const auto d = [](const Bytes &b) { return QStringLiteral("D:") + HexText(b); };
        const auto u = [](const Bytes &b) { return QStringLiteral("U:") + HexText(b); };
        const auto i = [](const Bytes &b) { return QStringLiteral("I:") + HexText(b); };
        QTest::newRow("read") << kRead << false << QStringList{r(kRead)};
        QTest::newRow("write") << kWrite << false << QStringList{r(kWrite)};
        QTest::newRow("two back to back")
            << Join({kRead, kWrite}) << false << QStringList{r(kRead), r(kWrite)};
        QTest::newRow("address 0 is a chamber")
            << ReadRequest(0, 0, 3) << false << QStringList{r(ReadRequest(0, 0, 3))};
        QTest::newRow("address 250")
            << ReadRequest(250, 0, 3) << false << QStringList{r(ReadRequest(250, 0, 3))};
        QTest::newRow("address 251")
            << ReadRequest(251, 0, 3) << false << QStringList{u(ReadRequest(251, 0, 3))};
        QTest::newRow("damaged read, then silence")
            << Damaged(kRead) << true << QStringList{d(Damaged(kRead))};
        QTest::newRow("damaged write, then silence")
            << Damaged(kWrite) << true << QStringList{d(Damaged(kWrite))};
        QTest::newRow("damaged read before a good one")
            << Join({Damaged(kRead), kRead}) << false << QStringList{d(Damaged(kRead)), r(kRead)};
        QTest::newRow("stray bytes before a request")
            << Join({Bytes{0xFF, 0x00}, kRead}) << false
            << QStringList{d(Bytes{0xFF, 0x00}), r(kRead)};
        QTest::newRow("function 3") << WithCrc({2, 3, 0, 0, 0, 15}) << false
                                    << QStringList{u(WithCrc({2, 3, 0, 0, 0, 15}))};
        QTest::newRow("function 6") << WithCrc({2, 6, 0, 16, 0, 1}) << false
                                    << QStringList{u(WithCrc({2, 6, 0, 16, 0, 1}))};
        const Bytes function43 = WithCrc({2, 0x2B, 0x0E, 1, 0});
        QTest::newRow("function of unknown layout")
            << function43 << true << QStringList{d(function43)};
        QTest::newRow("function of unknown layout before a request")
            << Join({function43, kRead}) << false << QStringList{d(function43), r(kRead)};
        QTest::newRow("read of no register")
            << WithCrc({2, 4, 0, 0, 0, 0}) << false << QStringList{u(WithCrc({2, 4, 0, 0, 0, 0}))};
        QTest::newRow("read of 126 registers") << WithCrc({2, 4, 0, 0, 0, 126}) << false
                                               << QStringList{u(WithCrc({2, 4, 0, 0, 0, 126}))};
        QTest::newRow("read past the last register")
            << WithCrc({2, 4, 0xFF, 0xFF, 0, 2}) << false
            << QStringList{u(WithCrc({2, 4, 0xFF, 0xFF, 0, 2}))};
        const Bytes countMismatch = WithCrc({2, 16, 0, 0, 0, 2, 2, 0, 1});
        QTest::newRow("write whose byte count is not twice its registers")
            << countMismatch << false << QStringList{u(countMismatch)};
        QTest::newRow("half a read, then silence")
            << Bytes(kRead.begin(), kRead.begin() + 4) << true
            << QStringList{i(Bytes(kRead.begin(), kRead.begin() + 4))};
        QTest::newRow("half a write, then silence")
            << Bytes(kWrite.begin(), kWrite.begin() + 9) << true
            << QStringList{i(Bytes(kWrite.begin(), kWrite.begin() + 9))};
        QTest::newRow("one byte, then silence") << Bytes{2} << true << QStringList{i(Bytes{2})};
        QTest::newRow("half a read, waiting")
            << Bytes(kRead.begin(), kRead.begin() + 4) << false << QStringList{};
    }
    void streams() {
        QFETCH(Bytes, stream);
        QFETCH(bool, silenceAtEnd);
        QFETCH(QStringList, frames);
        for (const bool byByte : {false, true}) {
            ClientRequestFramer framer;
            std::vector<ClientFrame> out;
            const auto add = [&out](std::vector<ClientFrame> more) {
                out.insert(out.end(), more.begin(), more.end());
            };
            if (byByte)
                for (std::uint8_t b : stream)
                    add(framer.feed(std::span(&b, 1)));
            else
                add(framer.feed(stream));
            if (silenceAtEnd)
                add(framer.lineFellSilent());
            QCOMPARE(Described(out), frames);
            QCOMPARE(framer.hasPending(), !silenceAtEnd && frames.isEmpty());
        }
    }

    // A torn request followed by a whole one after a silence: the two are never joined.
    void silenceSeparatesATornRequestFromTheNext() {
        ClientRequestFramer framer;
        QVERIFY(framer.feed(std::span(kRead).first(5)).empty());
        const auto torn = framer.lineFellSilent();
        QCOMPARE(torn.size(), std::size_t(1));
        QCOMPARE(torn[0].verdict, ClientVerdict::Incomplete);
        const auto next = framer.feed(kWrite);
        QCOMPARE(Described(next), QStringList{QStringLiteral("R:") + HexText(kWrite)});
    }

    // A client that never pauses holds at most one frame's worth of bytes.
    void endlessNoiseIsDroppedInBoundedPieces() {
        ClientRequestFramer framer;
        const Bytes noise(4000, 0xFF);
        std::size_t dropped = 0;
        for (const ClientFrame &f : framer.feed(noise)) {
            QCOMPARE(f.verdict, ClientVerdict::Damaged);
            QVERIFY(f.bytes.size() <= ClientRequestFramer::kMaxFrame);
            dropped += f.bytes.size();
        }
        QVERIFY(noise.size() - dropped <= ClientRequestFramer::kMaxFrame);
        const auto rest = framer.feed(kRead);
        QVERIFY(!rest.empty());
        QCOMPARE(rest.back().verdict, ClientVerdict::Request);
    }
};

QTEST_MAIN(tst_ClientRequestFramer)
#include "tst_ClientRequestFramer.moc"
