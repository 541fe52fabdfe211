#pragma once
// "01 04 00 0F" to bytes, so that frames in test tables read as they appear on the line.
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

inline std::vector<std::uint8_t> HexBytes(const QString &text) {
    std::vector<std::uint8_t> bytes;
    for (const QString &part : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        bool ok = false;
        bytes.push_back(static_cast<std::uint8_t>(part.toUInt(&ok, 16)));
        Q_ASSERT(ok);
    }
    return bytes;
}

inline QString HexText(const std::vector<std::uint8_t> &bytes) {
    QStringList parts;
    for (const std::uint8_t byte : bytes)
        parts << QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
    return parts.join(QLatin1Char(' '));
}

inline QStringList HexTexts(const std::vector<std::vector<std::uint8_t>> &frames) {
    QStringList texts;
    for (const auto &frame : frames)
        texts << HexText(frame);
    return texts;
}
