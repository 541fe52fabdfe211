#pragma once
// Application-wide pieces shared by the windows: the error box, the handler boundary, timer
// switching and fonts. They know no window.
#include <QString>
#include <functional>

class QTimer;
class QWidget;

// Shows the "Kalvora" error box (application-modal, non-blocking). Tests replace it to read
// the text; the text passed is already the box's text (message plus "." where due).
extern std::function<void(const QString &text)> ErrorBoxHook;
// The real box, ErrorBoxHook's default; not opened again while a box with the same text is open.
void OpenErrorMessageBox(const QString &text);
void ShowErrorBox(const QString &message);

// Runs an event handler; an error escaping it ends it and reaches the error box.
void RunHandler(const std::function<void()> &handler);

// Switching on a running timer keeps its period; switching off and on starts a full period.
void SwitchOn(QTimer *timer);
void SwitchOff(QTimer *timer);

// Maps the design fonts to installed metric-compatible ones.
void InstallFontSubstitutes();

// Blocks the user-interface thread: a real sleep, no events are handled meanwhile.
void BlockFor(int milliseconds);
