#pragma once
// Errors that end an event handler; the application's error box shows their message.
#include <QString>
#include <stdexcept>

class KalvoraError : public std::runtime_error {
public:
    explicit KalvoraError(const QString &message)
        : std::runtime_error(message.toStdString()), message_(message) {}
    const QString &message() const { return message_; }

private:
    QString message_;
};

// A text that is not an integer: "'%s' is not a valid integer value".
class ConversionError : public KalvoraError {
public:
    using KalvoraError::KalvoraError;
};

// A failed step of a log file write.
class InOutError : public KalvoraError {
public:
    using KalvoraError::KalvoraError;
};

// The error box's text: the message, plus "." when its last character's code is above 46.
QString ErrorBoxText(const QString &message);
