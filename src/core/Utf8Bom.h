#pragma once
// The byte order mark some editors put before UTF-8 text: readers of the files the logger
// writes take the file with or without it.
#include <QByteArray>

inline QByteArray WithoutUtf8Bom(const QByteArray &bytes) {
    static constexpr char kBom[] = "\xEF\xBB\xBF";
    return bytes.startsWith(kBom) ? bytes.sliced(3) : bytes;
}
