#pragma once
// For the window tests: lists a chamber in the main window as the scan would and clicks its
// entry, as the operator picks the chamber to read and command.
#include "main.h"

#include <QListWidget>
#include <QtTest>

inline void SelectChamber(int address) {
    auto *entry = new QListWidgetItem(QStringLiteral("Камера №%1").arg(address), Form1->ListBox1);
    const QRect place = Form1->ListBox1->visualItemRect(entry);
    QTest::mouseClick(Form1->ListBox1->viewport(), Qt::LeftButton, {}, place.center());
    QVERIFY(entry->isSelected());
}
