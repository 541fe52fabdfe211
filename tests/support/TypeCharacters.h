#pragma once
// Types each character as a key carrying that text: QTest::keyClicks passes Latin-1 only, and
// would turn "٣" into a key without text that no keystroke filter ever sees.
#include <QString>
#include <QWidget>
#include <QtTest>

inline void TypeCharacters(QWidget *widget, const QString &text) {
    for (QChar character : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(character),
                            Qt::NoModifier);
}
