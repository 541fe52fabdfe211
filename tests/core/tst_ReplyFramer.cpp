// Recognising a reply in the byte stream as it arrives, fed in pieces of every size.
#include "HexBytes.h"
#include "ModbusFrames.h"

#include "core/ReplyFramer.h"

#include <QtTest>

Q_DECLARE_METATYPE(ReplyFramer::State)

namespace {

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes &p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

const Bytes kReadRequest = ReadRequest(1, 0, 3);
const Bytes kReply = WithCrc({1, 4, 6, 0, 235, 0, 2, 0, 200});
const Bytes kWriteRequest = WriteRequest(1, 16, {1});
const Bytes kWriteReply = WriteAck(kWriteRequest);

} // namespace

class tst_ReplyFramer : public QObject {
    Q_OBJECT
private slots:
    void streams_data();
    void streams();
};

void tst_ReplyFramer::streams_data() {
    QTest::addColumn<Bytes>("request");
    QTest::addColumn<Bytes>("stream");
    QTest::addColumn<ReplyFramer::State>("state");
    QTest::addColumn<Bytes>("reply");
    QTest::addColumn<bool>("damaged");
    using S = ReplyFramer::State;
    QTest::newRow("reply") << kReadRequest << kReply << S::Reply << kReply << false;
    QTest::newRow("reply, then more bytes") << kReadRequest << Join({kReply, {0xAA, 0xBB}})
                                            << S::Reply << kReply << false;
    QTest::newRow("incomplete") << kReadRequest << Bytes(kReply.begin(), kReply.end() - 1)
                                << S::Waiting << Bytes{} << false;
    QTest::newRow("echo first") << kReadRequest << Join({kReadRequest, kReply}) << S::Reply
                                << kReply << false;
    QTest::newRow("noise first") << kReadRequest << Join({{0x00, 0xFF, 0x01}, kReply}) << S::Reply
                                 << kReply << false;
    QTest::newRow("other chamber's reply")
        << kReadRequest << WithCrc({2, 4, 6, 0, 1, 0, 2, 0, 3}) << S::Waiting << Bytes{} << false;
    Bytes broken = kReply;
    broken.back() ^= 0xFF;
    QTest::newRow("bad CRC") << kReadRequest << broken << S::Waiting << Bytes{} << true;
    QTest::newRow("bad CRC, then the reply") << kReadRequest << Join({broken, kReply}) << S::Reply
                                             << kReply << true;
    QTest::newRow("wrong byte count, right CRC")
        << kReadRequest << WithCrc({1, 4, 4, 0, 1, 0, 2}) << S::Waiting << Bytes{} << true;
    QTest::newRow("exception") << kReadRequest << ExceptionReply(1, 4, 2) << S::Exception << Bytes{}
                               << false;
    QTest::newRow("write reply") << kWriteRequest << kWriteReply << S::Reply << kWriteReply
                                 << false;
    QTest::newRow("write reply after echo") << kWriteRequest << Join({kWriteRequest, kWriteReply})
                                            << S::Reply << kWriteReply << false;
    QTest::newRow("echo alone") << kWriteRequest << kWriteRequest << S::Waiting << Bytes{} << false;
}

void tst_ReplyFramer::streams() {
    QFETCH(Bytes, request);
    QFETCH(Bytes, stream);
    QFETCH(ReplyFramer::State, state);
    QFETCH(Bytes, reply);
    QFETCH(bool, damaged);
    // The verdict must not depend on how the line cuts the stream.
    for (std::size_t piece : {std::size_t{1}, std::size_t{3}, stream.size()}) {
        ReplyFramer framer(request);
        for (std::size_t at = 0; at < stream.size(); at += piece)
            framer.feed(std::span(stream).subspan(at, std::min(piece, stream.size() - at)));
        QCOMPARE(framer.state(), state);
        if (state == ReplyFramer::State::Reply)
            QCOMPARE(framer.reply(), reply);
        if (state == ReplyFramer::State::Exception)
            QCOMPARE(framer.exceptionCode(), std::uint8_t{2});
        QCOMPARE(framer.sawDamagedReply(), damaged);
    }
}

QTEST_GUILESS_MAIN(tst_ReplyFramer)
#include "tst_ReplyFramer.moc"
