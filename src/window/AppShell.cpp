#include "AppShell.h"

#include "core/Errors.h"

#include <QApplication>
#include <QFont>
#include <QMessageBox>
#include <QTimer>
#include <chrono>
#include <thread>

// Non-blocking on purpose: a persistent error reported at every tick must not nest one more
// event loop per tick, and the timers go on behind the box. A fault that persists (a log file
// gone, a full disk) reports the same text every minute: one open box of it is enough.
void OpenErrorMessageBox(const QString &text) {
    for (QWidget *window : QApplication::topLevelWidgets()) {
        const auto *open = qobject_cast<QMessageBox *>(window);
        if (open && open->isVisible() && open->windowTitle() == QStringLiteral("Kalvora") &&
            open->text() == text)
            return;
    }
    auto *box = new QMessageBox(QMessageBox::Critical, QStringLiteral("Kalvora"), text,
                                QMessageBox::Ok);
    box->setTextFormat(Qt::PlainText); // a cell's "<b>5</b>" is shown as typed
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    box->show();
}

std::function<void(const QString &text)> ErrorBoxHook = OpenErrorMessageBox;

void ShowErrorBox(const QString &message) { ErrorBoxHook(ErrorBoxText(message)); }

void RunHandler(const std::function<void()> &handler) {
    try {
        handler();
    } catch (const KalvoraError &error) {
        ShowErrorBox(error.message());
    } catch (const std::exception &error) {
        ShowErrorBox(QString::fromLocal8Bit(error.what()));
    }
}

void SwitchOn(QTimer *timer) {
    if (!timer->isActive())
        timer->start();
}

void SwitchOff(QTimer *timer) { timer->stop(); }

void InstallFontSubstitutes() {
    QFont::insertSubstitution(QStringLiteral("Times New Roman"), QStringLiteral("Liberation Serif"));
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"));
}

void BlockFor(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
