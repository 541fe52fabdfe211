#include "ProgramPreview.h"

#include "ProgramChart.h"

#include <QDateTime>
#include <QWidget>

void ShowProgramPreview(QWidget *parent, const ProgramInput &program, const QString &name,
                        int programNumber) {
    QWidget *window = NewProgramPreviewWindow(program, name, programNumber,
                                              QDateTime::currentDateTime());
    window->setParent(parent, Qt::Window);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
}
