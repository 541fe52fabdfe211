#include "core/OrderedJsonObject.h"

#include <QJsonArray>
#include <QJsonDocument>

QByteArray JsonValueText(const QJsonValue &value) {
    // QJsonDocument writes objects and arrays only: the value is written as an array's one
    // element, whose brackets are then left out.
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

OrderedJsonObject &OrderedJsonObject::add(const QString &key, const QJsonValue &value) {
    members_.append({key, value});
    return *this;
}

QByteArray OrderedJsonObject::toJson(Layout layout) const {
    const bool spaced = layout == Layout::Spaced;
    QByteArray text = "{";
    for (qsizetype i = 0; i < members_.size(); ++i) {
        if (i > 0)
            text += spaced ? ", " : ",";
        text += JsonValueText(members_[i].first);
        text += spaced ? ": " : ":";
        text += JsonValueText(members_[i].second);
    }
    return text + '}';
}
