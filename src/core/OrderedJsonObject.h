#pragma once
// A JSON object whose members keep the order they were added in, for the texts whose order is
// part of their format: QJsonObject sorts its members by name, while the events journal's
// readers know a journal by its first member ("time"), and a reading lists its registers in
// their order. Every key and value is written by QJsonDocument; only the braces, commas and
// colons between them are ours.
#include <QByteArray>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <utility>

class OrderedJsonObject {
public:
    enum class Layout {
        Compact, // {"a":1,"b":"x"}
        Spaced,  // {"a": 1, "b": "x"}
    };

    OrderedJsonObject &add(const QString &key, const QJsonValue &value);
    bool isEmpty() const { return members_.isEmpty(); }
    QByteArray toJson(Layout layout = Layout::Compact) const;

private:
    QList<std::pair<QString, QJsonValue>> members_;
};

// One value as QJsonDocument writes it inside an array or object, compact.
QByteArray JsonValueText(const QJsonValue &value);
