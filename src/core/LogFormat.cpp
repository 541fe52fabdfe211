#include "LogFormat.h"

#include "Errors.h"
#include "IntegerText.h"

#include <QList>
#include <array>
#include <iconv.h>

namespace {

const QString kLineEnd = QStringLiteral("\r\n");
constexpr int kTemperatureColumnWidth = 37;
constexpr int kProgramColumnWidth = 31;
constexpr int kStepColumnWidth = 39;

QString Spaces(qsizetype count) { return count > 0 ? QString(count, QLatin1Char(' ')) : QString(); }

// The spaces that follow a value's ";" so that the next column starts at a fixed place.
QString Fill(int columnWidth, const QString &value) { return Spaces(columnWidth - value.size()); }

// Closes the conversion descriptor on every way out.
class Converter {
public:
    Converter() : handle_(iconv_open("WINDOWS-1251", "UTF-32LE")) {
        if (handle_ == reinterpret_cast<iconv_t>(-1))
            throw InOutError(QStringLiteral("Windows-1251 conversion is not available"));
    }
    ~Converter() { iconv_close(handle_); }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;

    // Converts one character; false when the code page lacks it.
    bool Convert(char32_t character, char &byte) {
        char input[4] = {static_cast<char>(character & 0xFF),
                         static_cast<char>((character >> 8) & 0xFF),
                         static_cast<char>((character >> 16) & 0xFF),
                         static_cast<char>((character >> 24) & 0xFF)};
        char *in = input;
        std::size_t inLeft = sizeof input;
        char output[8];
        char *out = output;
        std::size_t outLeft = sizeof output;
        const std::size_t result = iconv(handle_, &in, &inLeft, &out, &outLeft);
        // A non-zero count would be a substitution, which must show as "?" too.
        if (result != 0 || inLeft != 0 || out - output != 1) {
            iconv(handle_, nullptr, nullptr, nullptr, nullptr); // reset the state
            return false;
        }
        byte = output[0];
        return true;
    }

private:
    iconv_t handle_;
};

} // namespace

QString LogHeader() {
    return QStringLiteral("Системное время;    Текущая температура,°C;    Текущая программа;    "
                          "Текущий шаг(всего шагов);    Текущий цикл(всего циклов);") +
           kLineEnd;
}

QString ComposeLogRecord(const QString &timeText, const QString &currentTemperature,
                         const QString &program, const QString &step, const QString &cycle) {
    const QChar separator = QLatin1Char(';');
    return Spaces(4) + timeText + separator + Spaces(11) + currentTemperature + separator +
           Fill(kTemperatureColumnWidth, currentTemperature) + program + separator +
           Fill(kProgramColumnWidth, program) + step + separator + Fill(kStepColumnWidth, step) +
           cycle + separator + Spaces(5) + separator + Spaces(3) + kLineEnd;
}

QString FileTimeStamp(const QString &dateText, const QString &timeText) {
    QString stamp = dateText + QLatin1Char(' ') + timeText;
    // A "/" of the date format would make the name point into a folder.
    stamp.replace(QLatin1Char(':'), QLatin1Char('_'));
    stamp.replace(QLatin1Char('/'), QLatin1Char('_'));
    return stamp;
}

QString NewLogFileName(const QString &programDirectory, const QString &timeStamp) {
    return programDirectory + QStringLiteral("ЖЫМ№") + QLatin1Char('>') + QLatin1Char(' ') +
           timeStamp + QStringLiteral(".txt");
}

QString WithChamberNumber(const QString &logFileName, int chamberAddress) {
    // A folder may hold ">" on Linux; only the name's own placeholder is the chamber's.
    const qsizetype nameStart = logFileName.lastIndexOf(QLatin1Char('/')) + 1;
    QString name = logFileName.mid(nameStart);
    return logFileName.left(nameStart) + name.replace(QLatin1Char('>'), IntToText(chamberAddress));
}

QByteArray LogLineBytes(const QString &line) { return ToWindows1251(line + kLineEnd); }

QByteArray LogHeaderBytes() { return LogLineBytes(LogHeader()); }

QByteArray LogRecordBytes(const QString &timeText, const QString &currentTemperature,
                          const QString &program, const QString &step, const QString &cycle) {
    return LogLineBytes(ComposeLogRecord(timeText, currentTemperature, program, step, cycle));
}

QByteArray ToWindows1251(const QString &text) {
    // iconv stops at the first character the code page lacks, so convert one at a time.
    Converter converter;
    QByteArray bytes;
    bytes.reserve(text.size());
    for (const char32_t character : text.toUcs4()) {
        char byte = 0;
        bytes.append(converter.Convert(character, byte) ? byte : '?');
    }
    return bytes;
}

QString FromWindows1251(const QByteArray &bytes) {
    // One table for the upper half, built once per call: a log is megabytes, the table 128 steps.
    std::array<char16_t, 128> upperHalf{};
    iconv_t handle = iconv_open("UTF-16LE", "WINDOWS-1251");
    if (handle == reinterpret_cast<iconv_t>(-1))
        throw InOutError(QStringLiteral("Windows-1251 conversion is not available"));
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
        char input = static_cast<char>(byte);
        char *in = &input;
        std::size_t inLeft = 1;
        char output[4] = {};
        char *out = output;
        std::size_t outLeft = sizeof output;
        const bool converted =
            iconv(handle, &in, &inLeft, &out, &outLeft) == 0 && out - output == 2;
        upperHalf[byte - 0x80] =
            converted ? static_cast<char16_t>(static_cast<unsigned char>(output[0]) |
                                              static_cast<unsigned char>(output[1]) << 8)
                      : u'\uFFFD';
        iconv(handle, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(handle);

    QString text(bytes.size(), Qt::Uninitialized);
    QChar *out = text.data();
    for (const char byte : bytes) {
        const auto code = static_cast<unsigned char>(byte);
        *out++ = code < 0x80 ? QChar(code) : QChar(upperHalf[code - 0x80]);
    }
    return text;
}
