#include "AppShell.h"

#include "Unit3.h"
#include "Unit4.h"
#include "Unit5.h"
#include "core/Errors.h"
#include "main.h"

#include <QApplication>
#include <QFont>
#include <QMessageBox>
#include <QTimer>
#include <chrono>
#include <thread>

namespace {

// Non-blocking on purpose: a persistent error reported at every tick must not nest one more
// event loop per tick, and the timers go on behind the box.
void ShowMessageBox(const QString &text) {
    auto *box = new QMessageBox(QMessageBox::Critical, QStringLiteral("Kalvora"), text,
                                QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    box->show();
}

} // namespace

std::function<void(const QString &text)> ErrorBoxHook = ShowMessageBox;

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

void CreateApplicationWindows() {
    QCoreApplication::setApplicationName(QStringLiteral("Kalvora"));
    InstallFontSubstitutes();
    Form1 = new TForm1;
    Form3 = new TForm3;
    Form4 = new TForm4;
    Form5 = new TForm5;
}

void DestroyApplicationWindows() {
    for (TForm4 *window : InputErrorWindows)
        delete window;
    InputErrorWindows.clear();
    delete Form5;
    delete Form4;
    delete Form3;
    delete Form1;
    Form5 = nullptr;
    Form4 = nullptr;
    Form3 = nullptr;
    Form1 = nullptr;
}

void BlockFor(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
