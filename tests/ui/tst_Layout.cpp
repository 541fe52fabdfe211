// The four windows as designed: places, texts, fonts, colours, focus order and start states.
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "AppFixture.h"
#include "TimingSlack.h"
#include "TypeCharacters.h"
#include "Unit4.h"
#include "Unit5.h"
#include "widgets/ActivityIndicator.h"

namespace {

// Width and height of -1: the control sizes itself to its text, only its place is designed.
constexpr int kAuto = -1;

QString ControlText(const QWidget *control) {
    if (auto *label = qobject_cast<const QLabel *>(control))
        return label->text();
    if (auto *button = qobject_cast<const QAbstractButton *>(control))
        return button->text();
    return QString();
}

void VerifyPlace(const QWidget *control, const QRect &designed) {
    QCOMPARE(control->pos(), designed.topLeft());
    if (designed.width() != kAuto)
        QCOMPARE(control->size(), designed.size());
    else
        QCOMPARE(control->size(), control->sizeHint());
}

void VerifyFont(const QWidget *control, const QString &family, int pixelSize, bool bold) {
    QCOMPARE(control->font().family(), family);
    QCOMPARE(control->font().pixelSize(), pixelSize);
    QCOMPARE(control->font().bold(), bold);
}

// The order in which Tab walks through `expected`, starting at its first control.
QList<QWidget *> TabWalk(const QList<QWidget *> &expected) {
    QList<QWidget *> walk{expected.front()};
    for (QWidget *next = expected.front()->nextInFocusChain(); next != expected.front();
         next = next->nextInFocusChain())
        if (expected.contains(next))
            walk << next;
    return walk;
}

QWidget *Control(QWidget *window, const QString &name) {
    auto *control = window->findChild<QWidget *>(name);
    if (!control)
        qFatal("no control %s", qPrintable(name));
    return control;
}

QString Spaces(int count) { return QString(count, QLatin1Char(' ')); }

} // namespace

class tst_Layout : public QObject {
    Q_OBJECT

private slots:
    void init() { app = std::make_unique<AppFixture>(); }
    void cleanup() { app.reset(); }

    void mainWindowControls_data();
    void mainWindowControls();
    void mainWindowColours_data();
    void mainWindowColours();
    void mainWindowFrameAndTimers();
    void mainWindowStartState();
    void onlySizedToTextLabelsFollowTheirText();
    void scrollBarsOnlyWhenSmaller_data();
    void scrollBarsOnlyWhenSmaller();
    void focusOrder_data();
    void focusOrder();
    void messageWindowTexts_data();
    void messageWindowTexts();
    void messageWindowsStayOnTopAndHide();
    void errorWindowsPileUp();
    void controlWindowControls_data();
    void controlWindowControls();
    void programTable();
    void keystrokeFilter_data();
    void keystrokeFilter();
    void controlCodesAreDiscarded_data();
    void controlCodesAreDiscarded();
    void listClickReachesHandler_data();
    void listClickReachesHandler();
    void tickFromCodeReachesHandler();
    void programNumberChoiceReachesHandler();

private:
    std::unique_ptr<AppFixture> app;
};

void tst_Layout::mainWindowControls_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QRect>("place");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("pixelSize");
    QTest::addColumn<bool>("bold");

    const QString serif = QStringLiteral("Times New Roman");
    const QString sans = QStringLiteral("MS Sans Serif");
    const auto row = [](const char *name, QRect place, const QString &text, const QString &family,
                        int pixelSize, bool bold = false) {
        QTest::newRow(name) << QString::fromLatin1(name) << place << text << family << pixelSize
                            << bold;
    };
    row("Label21", {38, 3, kAuto, kAuto}, "Установка порта", serif, 24, true);
    row("Label22", {38, 123, kAuto, kAuto}, "Поиск устройства", serif, 24, true);
    row("Label23", {499, 3, kAuto, kAuto}, " Температура/влажность", serif, 24, true);
    row("Label24", {531, 227, kAuto, kAuto}, "Временные показатели", serif, 24, true);
    row("Label25", {509, 592, kAuto, kAuto}, "Параметры термоциклирования", serif, 24, true);
    row("ComboBox1", {16, 52, 105, 21}, "", sans, 11);
    row("Button5", {139, 52, 113, 41}, "Открыть", serif, 19);
    row("Button4", {16, 180, 105, 41}, "Пуск", serif, 19);
    row("Button1", {139, 180, 113, 41}, "Стоп", serif, 19);
    row("ProgressBar1", {16, 227, 236, 38}, "", sans, 11);
    row("Label26", {104, 276, kAuto, kAuto}, Spaces(14), serif, 16);
    row("Panel11", {16, 313, 236, 30}, "Результаты сканирования", serif, 21);
    row("ListBox1", {16, 341, 236, 253}, "", sans, 16);
    row("Button6", {16, 600, 236, 57}, "Чтение текущих показаний", serif, 19);
    row("Button2", {16, 663, 236, 65}, "Управление камерой", serif, 19);
    row("CheckBox1", {8, 734, 153, 49}, "Запись в файл", serif, 21);
    row("Label5", {372, 60, 194, 105}, "0", serif, 83, true);
    row("Label18", {780, 60, 194, 105}, "0", serif, 83, true);
    row("Label15", {341, 294, 208, 73}, "00:00", serif, 75);
    row("Label11", {766, 294, 225, 73}, "00:00", serif, 75);
    row("Label3", {341, 432, 225, 73}, "00:00", serif, 75);
    row("Label19", {766, 432, 208, 73}, "00:00", serif, 75);
    row("Label13", {301, 643, 256, 81}, "0(0)", serif, 75);
    row("Label17", {584, 643, 200, 81}, "0", serif, 75);
    row("Label20", {832, 643, 274, 81}, "0(0)", serif, 75);
    row("Panel2", {311, 171, 325, 30}, "Текущая температура, °C", serif, 21);
    row("Panel3", {712, 171, 308, 30}, "Заданная температура, °C", serif, 21);
    row("Panel4", {311, 373, 291, 30}, "Время выхода на режим, чч:мм", serif, 21);
    row("Panel9", {744, 373, 260, 30}, "Время стабилизации, чч:мм", serif, 21);
    row("Panel10", {273, 530, 376, 30}, "Уставка времени выхода на режим, чч:мм", serif, 21);
    row("Panel5", {696, 530, 349, 30}, "Уставка времени стабилизации, чч:мм", serif, 21);
    row("Panel6", {304, 747, 253, 30}, "Текущий шаг(всего шагов)", serif, 21);
    row("Panel7", {582, 747, 200, 30}, "Текущая программа", serif, 21);
    row("Panel8", {837, 747, 261, 30}, "Текущий цикл(всего циклов)", serif, 21);
    row("Label1", {8, 799, kAuto, kAuto}, "v12.23.134.4.12.05", sans, 11);
    row("Label8", {830, 793, 268, 19}, "", serif, 16);
}

void tst_Layout::mainWindowControls() {
    QFETCH(QString, control);
    QFETCH(QRect, place);
    QFETCH(QString, text);
    QFETCH(QString, family);
    QFETCH(int, pixelSize);
    QFETCH(bool, bold);

    QWidget *widget = Control(Form1, control);
    VerifyPlace(widget, place);
    QCOMPARE(ControlText(widget), text);
    VerifyFont(widget, family, pixelSize, bold);
    const bool heading = family == QLatin1String("Times New Roman") && pixelSize == 24;
    QCOMPARE(widget->font().underline(), heading);
    if (auto *label = qobject_cast<QLabel *>(widget); label && place.width() != kAuto) {
        const bool captionBox = control.startsWith(QLatin1String("Panel"));
        const Qt::Alignment expected =
            control == QLatin1String("Label8") ? Qt::AlignRight : Qt::AlignHCenter;
        QVERIFY(label->alignment() & expected);
        QCOMPARE(label->frameShape() == QFrame::Box || label->frameShape() == QFrame::Panel,
                 captionBox);
    }
}

void tst_Layout::mainWindowColours_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QColor>("text");
    QTest::addColumn<QColor>("ownBackground"); // invalid: drawn on the window's background

    const QColor green(0, 128, 0), red(255, 0, 0), white(Qt::white), none;
    const QColor button = QApplication::palette().color(QPalette::Button);
    QTest::newRow("Label5 green on white") << "Label5" << green << white;
    QTest::newRow("Label18 red") << "Label18" << red << none;
    QTest::newRow("Label15 green") << "Label15" << green << none;
    QTest::newRow("Label11 green") << "Label11" << green << none;
    QTest::newRow("Label3 red") << "Label3" << red << none;
    QTest::newRow("Label19 red") << "Label19" << red << none;
    QTest::newRow("Label13 green") << "Label13" << green << none;
    QTest::newRow("Label17 green") << "Label17" << green << none;
    QTest::newRow("Label20 green") << "Label20" << green << none;
    QTest::newRow("Label26 black on white") << "Label26" << QColor(Qt::black) << white;
    QTest::newRow("caption box on button face") << "Panel7" << QColor() << button;
}

void tst_Layout::mainWindowColours() {
    QFETCH(QString, control);
    QFETCH(QColor, text);
    QFETCH(QColor, ownBackground);

    QWidget *widget = Control(Form1, control);
    if (text.isValid())
        QCOMPARE(widget->palette().color(QPalette::WindowText), text);
    QCOMPARE(widget->autoFillBackground(), ownBackground.isValid());
    if (ownBackground.isValid())
        QCOMPARE(widget->palette().color(QPalette::Window), ownBackground);
}

void tst_Layout::mainWindowFrameAndTimers() {
    QCOMPARE(Form1->windowTitle(), QStringLiteral("Связь с ЭВМ"));
    // Offscreen windows have no frame: the outer size is the client size.
    QCOMPARE(Form1->frameGeometry(), QRect(0, 0, 1127, 856));
    VerifyFont(Form1, QStringLiteral("MS Sans Serif"), 11, false);
    QCOMPARE(QFontInfo(Form1->Label5->font()).family(), QStringLiteral("Liberation Serif"));

    const QColor aqua(0, 255, 255);
    QCOMPARE(Form1->ProgressBar1->palette().color(QPalette::Highlight), aqua);
    QCOMPARE(Form1->ProgressBar1->palette().color(QPalette::Base), aqua);
    QCOMPARE(Form1->ProgressBar1->minimum(), 0);
    QCOMPARE(Form1->ProgressBar1->maximum(), 100);
    QCOMPARE(Form1->ProgressBar1->value(), 0);

    const std::pair<QTimer *, int> timers[] = {{Form1->Timer1, 4000},
                                               {Form1->Timer2, 500},
                                               {Form1->Timer4, 60000},
                                               {Form1->Timer5, 100},
                                               {Form1->Timer6, 5000}};
    for (const auto &[timer, period] : timers) {
        QCOMPARE(timer->interval(), period);
        QCOMPARE(timer->timerType(), Qt::PreciseTimer);
        QVERIFY(!timer->isSingleShot());
        QCOMPARE(timer->isActive(), timer == Form1->Timer2);
    }
}

void tst_Layout::mainWindowStartState() {
    QVERIFY(Form1->isVisible());
    QVERIFY(!Form3->isVisible());
    QVERIFY(!Form4->isVisible());
    QVERIFY(!Form5->isVisible());

    QCOMPARE(Form1->ComboBox1->currentIndex(), -1);
    QVERIFY(!Form1->ComboBox1->isEditable());
    QStringList ports;
    for (int i = 0; i < Form1->ComboBox1->count(); ++i)
        ports << Form1->ComboBox1->itemText(i);
    QCOMPARE(ports, QStringList({"COM1", "COM2", "COM3", "COM4", "COM5"}));
    QCOMPARE(Form1->ListBox1->count(), 0);
    QVERIFY(!Form1->CheckBox1->isChecked());

    const std::pair<QWidget *, bool> usable[] = {
        {Form1->ComboBox1, true}, {Form1->Button5, true},   {Form1->ListBox1, true},
        {Form1->Button4, false},  {Form1->Button1, false},  {Form1->Button6, false},
        {Form1->Button2, false},  {Form1->CheckBox1, false}};
    for (const auto &[control, enabled] : usable)
        QVERIFY2(control->isEnabled() == enabled, qPrintable(control->objectName()));

    for (ActivityIndicator *indicator :
         {Form1->ActivityIndicator1, Form1->ActivityIndicator2, Form1->ActivityIndicator3})
        QVERIFY(indicator->isSpinning());
    QCOMPARE(Form1->ActivityIndicator1->pos(), QPoint(780, 3));
    QCOMPARE(Form1->ActivityIndicator2->pos(), QPoint(802, 227));
    QCOMPARE(Form1->ActivityIndicator3->pos(), QPoint(883, 592));

    // The clock fills at Timer2's first tick (its period is checked with the other timers):
    // date, two spaces, time.
    QVERIFY(Form1->Label8->text().isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(!Form1->Label8->text().isEmpty(), kEventTimeoutMs);
    QVERIFY(Form1->Label8->text().contains(QStringLiteral("  ")));
    QVERIFY(app->errorBoxes.isEmpty());
}

void tst_Layout::onlySizedToTextLabelsFollowTheirText() {
    const QSize figureSize = Form1->Label5->size();
    Form1->Label5->setText(QStringLiteral("-85.5"));
    const int scanLabelWidth = Form1->Label26->width();
    Form1->Label26->setText(QStringLiteral("250 из 250"));
    QTRY_VERIFY(Form1->Label26->width() != scanLabelWidth);
    QCOMPARE(Form1->Label26->size(), Form1->Label26->sizeHint());
    QCOMPARE(Form1->Label26->pos(), QPoint(104, 276));
    QCOMPARE(Form1->Label5->size(), figureSize);
}

void tst_Layout::scrollBarsOnlyWhenSmaller_data() {
    QTest::addColumn<QString>("window");
    QTest::addColumn<QSize>("contents"); // the controls' bounding box
    QTest::newRow("main window") << "Form1" << QSize(1106, 812);
    QTest::newRow("control window") << "Form3" << QSize(1117, 645);
}

void tst_Layout::scrollBarsOnlyWhenSmaller() {
    QFETCH(QString, window);
    QFETCH(QSize, contents);
    QWidget *form = window == QLatin1String("Form1") ? static_cast<QWidget *>(Form1) : Form3;
    form->show();
    auto *area = form->findChild<QScrollArea *>();
    QVERIFY(area);
    QCOMPARE(area->widget()->size(), contents);
    QCOMPARE(area->horizontalScrollBar()->maximum(), 0);
    QCOMPARE(area->verticalScrollBar()->maximum(), 0);

    form->resize(600, 400);
    QTRY_COMPARE(area->horizontalScrollBar()->maximum(),
                 contents.width() - area->viewport()->width());
    QCOMPARE(area->verticalScrollBar()->maximum(), contents.height() - area->viewport()->height());
}

void tst_Layout::focusOrder_data() {
    QTest::addColumn<QString>("window");
    QTest::addColumn<QStringList>("order");
    QTest::newRow("main window") << "Form1"
                                 << QStringList{"ComboBox1", "Button4",   "Button5", "ListBox1",
                                                "Button6",   "CheckBox1", "Button1", "Button2"};
    QTest::newRow("control window")
        << "Form3"
        << QStringList{"StringGrid1", "ComboBox1", "Edit1",   "Edit2",   "Button1", "Button2",
                       "Button3",     "Edit3",     "Button4", "Button5", "Button6", "ComboBox2"};
}

void tst_Layout::focusOrder() {
    QFETCH(QString, window);
    QFETCH(QStringList, order);
    QWidget *form = window == QLatin1String("Form1") ? static_cast<QWidget *>(Form1) : Form3;
    QList<QWidget *> expected;
    for (const QString &name : order)
        expected << Control(form, name);
    QCOMPARE(TabWalk(expected), expected);
}

void tst_Layout::messageWindowTexts_data() {
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QPoint>("place");
    QTest::addColumn<QString>("text");

    QTest::newRow("heading") << "Form4"
                             << "Label1" << QPoint(48, 32)
                             << "Правильно заполните все ячейки, учитывая следующие пределы:";
    QTest::newRow("temperature, U+00BA")
        << "Form4"
        << "Label2" << QPoint(72, 66) << QString::fromUtf16(u"T, \u00BAC: [-90..190], целое;");
    QTest::newRow("humidity") << "Form4"
                              << "Label3" << QPoint(72, 93) << "RH,%: [10..98], целое;";
    QTest::newRow("hours, a pixel lower")
        << "Form4"
        << "Label4" << QPoint(320, 67) << "t, чч: [0..99], целое;";
    QTest::newRow("minutes") << "Form4"
                             << "Label5" << QPoint(320, 93) << "t, мм: [0..59], целое;";
    QTest::newRow("steps") << "Form4"
                           << "Label6" << QPoint(72, 120) << "число шагов: [1..15], целое;";
    QTest::newRow("programs, full stop")
        << "Form4"
        << "Label7" << QPoint(320, 120) << "число программ: [1..15], целое.";
    QTest::newRow("link lost") << "Form5"
                               << "Label1" << QPoint(128, 56) << "Возможен обрыв линии RS-485";
}

void tst_Layout::messageWindowTexts() {
    QFETCH(QString, window);
    QFETCH(QString, label);
    QFETCH(QPoint, place);
    QFETCH(QString, text);
    QWidget *form = window == QLatin1String("Form4") ? static_cast<QWidget *>(Form4) : Form5;
    auto *widget = qobject_cast<QLabel *>(Control(form, label));
    QVERIFY(widget);
    QCOMPARE(widget->text(), text);
    VerifyPlace(widget, QRect(place, QSize(kAuto, kAuto)));
    VerifyFont(widget, QStringLiteral("Times New Roman"), 19, false);
}

void tst_Layout::messageWindowsStayOnTopAndHide() {
    const std::tuple<QWidget *, QString, QSize> windows[] = {
        {Form4, QStringLiteral("Ошибка"), {619, 152}},
        {Form5, QStringLiteral("Обрыв связи"), {549, 140}}};
    for (const auto &[window, title, clientSize] : windows) {
        QCOMPARE(window->windowTitle(), title);
        QCOMPARE(window->size(), clientSize);
        QVERIFY(window->windowFlags() & Qt::WindowStaysOnTopHint);
        VerifyFont(window, QStringLiteral("Tahoma"), 11, false);
        window->show();
        QVERIFY(window->isVisible());
        QVERIFY(window->close() == false); // refused: the window stays, only hidden
        QVERIFY(!window->isVisible());
        window->show();
        QVERIFY(window->isVisible());
    }
}

void tst_Layout::errorWindowsPileUp() {
    ShowInputError();
    ShowInputError();
    QCOMPARE(InputErrorWindows.size(), std::size_t(2));
    for (TForm4 *window : InputErrorWindows) {
        QVERIFY(window != Form4);
        QVERIFY(window->isVisible());
        QCOMPARE(window->windowTitle(), QStringLiteral("Ошибка"));
        QCOMPARE(window->frameGeometry().size(), QSize(650, 200));
        QCOMPARE(window->Label2->text(), QString::fromUtf16(u"T, \u00BAC: [-90..190], целое;"));
    }
    QVERIFY(!Form4->isVisible());
    InputErrorWindows.front()->close();
    QVERIFY(!InputErrorWindows.front()->isVisible());
    QVERIFY(InputErrorWindows.back()->isVisible());
}

void tst_Layout::controlWindowControls_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QRect>("place");
    QTest::addColumn<QString>("text");

    const auto row = [](const char *name, QRect place, const QString &text = QString()) {
        QTest::newRow(name) << QString::fromLatin1(name) << place << text;
    };
    row("ComboBox1", {124, 23, 121, 29});
    row("Edit1", {124, 68, 121, 21});
    row("Edit2", {124, 114, 121, 21});
    row("Edit3", {604, 28, 121, 21});
    row("ComboBox2", {932, 280, 121, 29});
    row("Button1", {768, 533, 349, 112}, "Записать программы");
    row("Button2", {768, 23, 349, 81}, "Запуск камеры(ручной режим)");
    row("Button3", {768, 110, 349, 81}, "Останов камеры(ручной режим)");
    row("Button4", {768, 415, 349, 112}, "Записать уставки ручного задания");
    row("Button5", {768, 193, 349, 81}, "Запуск камеры(программы)");
    row("Button6", {768, 328, 349, 81}, "Останов камеры(программы)");
    row("Label1", {0, 26, kAuto, kAuto}, "Программа №:");
    row("Label3 leading blank", {0, 66, kAuto, kAuto}, " Число шагов:");
    row("Label4 left of the edge", {-3, 112, kAuto, kAuto}, " Число циклов:");
    row("Label5 Latin C", {251, 26, kAuto, kAuto},
        QString::fromUtf16(u"Уставка температуры (ручное задание), \u00B0\u0043:"));
    row("Label2", {232, 149, kAuto, kAuto}, "Свойства выбранной программы");
    row("Label7", {776, 280, kAuto, kAuto}, "С программы №:");
}

void tst_Layout::controlWindowControls() {
    QFETCH(QString, control);
    QFETCH(QRect, place);
    QFETCH(QString, text);

    QWidget *widget = Control(Form3, control.section(QLatin1Char(' '), 0, 0));
    VerifyPlace(widget, place);
    QCOMPARE(ControlText(widget), text);
    if (auto *edit = qobject_cast<QLineEdit *>(widget)) {
        VerifyFont(edit, QStringLiteral("Tahoma"), 11, false);
        QVERIFY(edit->text().isEmpty());
    } else {
        VerifyFont(widget, QStringLiteral("Times New Roman"), 19, false);
    }
    if (auto *list = qobject_cast<QComboBox *>(widget)) {
        QCOMPARE(list->currentIndex(), -1);
        QCOMPARE(list->count(), 15);
        QCOMPARE(list->itemText(0), QStringLiteral("1"));
        QCOMPARE(list->itemText(14), QStringLiteral("15"));
        QVERIFY(!list->isEditable());
    }
}

void tst_Layout::programTable() {
    QCOMPARE(Form3->windowTitle(), QStringLiteral("Управление с ЭВМ"));
    QCOMPARE(Form3->frameGeometry().size(), QSize(1141, 701));
    QCOMPARE(Form3->findChild<QLabel *>(QStringLiteral("Label6")), nullptr);

    QTableWidget *grid = Form3->StringGrid1;
    QCOMPARE(grid->geometry(), QRect(0, 176, 720, 425));
    QCOMPARE(grid->rowCount(), 16);
    QCOMPARE(grid->columnCount(), 6);
    QVERIFY(grid->showGrid());
    QCOMPARE(grid->selectionMode(), QAbstractItemView::ContiguousSelection);
    for (int column = 0; column < 6; ++column)
        QCOMPARE(grid->columnWidth(column), 120);
    for (int row = 0; row < 16; ++row)
        QCOMPARE(grid->rowHeight(row), 24);
    QCOMPARE(grid->horizontalScrollBar()->maximum(), 0); // the six columns fit exactly

    // Cyrillic "Т" and "С" in the temperature header, unlike the Latin "C" beside Edit3.
    const QStringList headers = {
        QStringLiteral("№ шага"),           QString::fromUtf16(u"\u0422, \u00B0\u0421"),
        QStringLiteral("Стабилизация, чч"), QStringLiteral("Стабилизация, мм"),
        QStringLiteral("Выход,чч"),         QStringLiteral("Выход,мм")};
    for (int column = 0; column < 6; ++column) {
        QCOMPARE(Form3->cellText(0, column), headers[column]);
        QVERIFY(!(grid->item(0, column)->flags() & Qt::ItemIsEditable));
    }
    for (int row = 1; row <= 15; ++row) {
        QCOMPARE(Form3->cellText(row, 0), QString::number(row));
        QVERIFY(!(grid->item(row, 0)->flags() & Qt::ItemIsEditable));
        for (int column = 1; column < 6; ++column) {
            QVERIFY(Form3->cellText(row, column).isEmpty());
            QVERIFY(grid->item(row, column)->flags() & Qt::ItemIsEditable);
        }
    }
    QVERIFY(grid->editTriggers() & QAbstractItemView::AnyKeyPressed);

    // A data cell takes any text, letters included: the table has no keystroke filter.
    Form3->setCellText(3, 2, QStringLiteral("x y"));
    QCOMPARE(Form3->cellText(3, 2), QStringLiteral("x y"));
}

void tst_Layout::keystrokeFilter_data() {
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QList<int>>("keys"); // pressed after the typed text
    QTest::addColumn<QString>("typedAfter");
    QTest::addColumn<QString>("expected");

    const QList<int> none;
    QTest::newRow("letters and plus dropped") << "Edit1"
                                              << "12a+-3" << none << ""
                                              << "12-3";
    QTest::newRow("minus anywhere, twice") << "Edit2"
                                           << "-1-2-" << none << ""
                                           << "-1-2-";
    QTest::newRow("Cyrillic, blank and point dropped") << "Edit3"
                                                       << "ж 1.5" << none << ""
                                                       << "15";
    QTest::newRow("backspace") << "Edit1"
                               << "123" << QList<int>{Qt::Key_Backspace} << ""
                               << "12";
    QTest::newRow("left and delete")
        << "Edit2"
        << "123" << QList<int>{Qt::Key_Left, Qt::Key_Left, Qt::Key_Delete} << ""
        << "13";
    QTest::newRow("home then a digit") << "Edit3"
                                       << "23" << QList<int>{Qt::Key_Home} << "x1"
                                       << "123";
    QTest::newRow("end after home") << "Edit1"
                                    << "5" << QList<int>{Qt::Key_Home, Qt::Key_End} << "0"
                                    << "50";
}

void tst_Layout::keystrokeFilter() {
    QFETCH(QString, edit);
    QFETCH(QString, typed);
    QFETCH(QList<int>, keys);
    QFETCH(QString, typedAfter);
    QFETCH(QString, expected);

    auto *box = qobject_cast<QLineEdit *>(Control(Form3, edit));
    QVERIFY(box);
    TypeCharacters(box, typed);
    for (int key : keys)
        QTest::keyClick(box, static_cast<Qt::Key>(key));
    TypeCharacters(box, typedAfter);
    QCOMPARE(box->text(), expected);
}

// A key event as the window system delivers it: Ctrl+V carries the code 22 as its text. (A
// QTest Ctrl+V carries "v" and would prove nothing.)
void tst_Layout::controlCodesAreDiscarded_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("typedAfter");
    QTest::addColumn<QString>("expected");
    QTest::newRow("Ctrl+A selects nothing") << int(Qt::Key_A) << 1 << "5" << "125";
    QTest::newRow("Ctrl+V pastes nothing") << int(Qt::Key_V) << 22 << "" << "12";
    QTest::newRow("Ctrl+X cuts nothing") << int(Qt::Key_X) << 24 << "" << "12";
    QTest::newRow("Ctrl+Z undoes nothing") << int(Qt::Key_Z) << 26 << "" << "12";
    QTest::newRow("Ctrl+C then typing goes on") << int(Qt::Key_C) << 3 << "3" << "123";
}

void tst_Layout::controlCodesAreDiscarded() {
    QFETCH(int, key);
    QFETCH(int, code);
    QFETCH(QString, typedAfter);
    QFETCH(QString, expected);
    QGuiApplication::clipboard()->setText(QStringLiteral("99"));
    QLineEdit *box = Form3->Edit1;
    TypeCharacters(box, QStringLiteral("12"));
    QTest::sendKeyEvent(QTest::Click, box, static_cast<Qt::Key>(key), QString(QChar(code)),
                        Qt::ControlModifier);
    TypeCharacters(box, typedAfter);
    QCOMPARE(box->text(), expected);

    // Return and Delete keep their function.
    QSignalSpy returned(box, &QLineEdit::returnPressed);
    QTest::sendKeyEvent(QTest::Click, box, Qt::Key_Return, QStringLiteral("\r"), {});
    QCOMPARE(returned.count(), 1);
    box->setCursorPosition(0);
    QTest::sendKeyEvent(QTest::Click, box, Qt::Key_Delete, QString(QChar(127)), {});
    QCOMPARE(box->text(), expected.mid(1));
}

void tst_Layout::listClickReachesHandler_data() {
    QTest::addColumn<bool>("byMouse");
    QTest::newRow("mouse click on an entry") << true;
    QTest::newRow("arrow key onto an entry") << false;
}

void tst_Layout::listClickReachesHandler() {
    QFETCH(bool, byMouse);
    QListWidget *list = Form1->ListBox1;
    list->addItem(QStringLiteral("Камера №5"));
    list->addItem(QStringLiteral("Камера №7"));
    if (byMouse) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(1)).center());
    } else {
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Down);
    }
    QCOMPARE(list->selectedItems().size(), 1);
    QVERIFY(Form1->Button6->isEnabled());
    QVERIFY(Form1->Button2->isEnabled());
}

void tst_Layout::tickFromCodeReachesHandler() {
    Form1->CheckBox1->setEnabled(true);
    Form1->CheckBox1->setChecked(true);
    QVERIFY(Form1->Timer6->isActive());
}

void tst_Layout::programNumberChoiceReachesHandler() {
    Form3->show();
    Form3->setCellText(1, 1, QStringLiteral("25"));
    Form3->Edit1->setText(QStringLiteral("3"));
    Form3->Edit3->setText(QStringLiteral("40"));
    Form3->ComboBox1->setFocus();
    QTest::keyClick(Form3->ComboBox1, Qt::Key_Down); // an operator's choice: activated
    QCOMPARE(Form3->ComboBox1->currentIndex(), 0);
    QVERIFY(Form3->cellText(1, 1).isEmpty());
    QVERIFY(Form3->Edit1->text().isEmpty());
    QCOMPARE(Form3->Edit3->text(), QStringLiteral("40"));
}

QTEST_MAIN(tst_Layout)
#include "tst_Layout.moc"
