#pragma once
// The byte order mark some editors put before UTF-8 text: readers of our UTF-8 files take a file
// with or without it; a file meant for spreadsheets is written with it.
#include <QByteArray>

inline constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

inline QByteArray WithoutUtf8Bom(const QByteArray &bytes) {
    return bytes.startsWith(kUtf8Bom) ? bytes.sliced(3) : bytes;
}
