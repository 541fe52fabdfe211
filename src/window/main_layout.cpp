// The main window's controls, their places, fonts and colours, and the wiring to the handlers.
#include "main.h"

#include "AppShell.h"
#include "widgets/ActivityIndicator.h"
#include "widgets/FormLayout.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <memory>

namespace {

const QString kSerif = QStringLiteral("Times New Roman");
const QString kSans = QStringLiteral("MS Sans Serif");

const QColor kCurrentValueColour(0, 128, 0);
const QColor kSetValueColour(255, 0, 0);
const QColor kProgressColour(0, 255, 255);

// The designed figures hold ten spaces until FormCreate gives them their start texts.
const QString kFigurePlaceholder(10, QLatin1Char(' '));

void SetTextColour(QWidget *widget, const QColor &colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

void SetOwnBackground(QWidget *widget, const QColor &colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

QLabel *PlaceHeading(QWidget *canvas, const QString &text, int left, int top) {
    return PlaceAutoSizeLabel(canvas, text, left, top, DesignFont(kSerif, 24, true, true));
}

// A large figure: fixed size whatever its text, text centred.
QLabel *PlaceFigure(QWidget *canvas, QRect geometry, int pixelHeight, bool bold,
                    const QColor &colour) {
    auto *label = new QLabel(kFigurePlaceholder, canvas);
    label->setTextFormat(Qt::PlainText);
    label->setFont(DesignFont(kSerif, pixelHeight, bold));
    label->setAlignment(Qt::AlignCenter);
    label->setGeometry(geometry);
    SetTextColour(label, colour);
    return label;
}

// A caption box: a framed panel naming the figure above it.
QLabel *PlaceCaptionBox(QWidget *canvas, const QString &caption, QRect geometry) {
    auto *box = new QLabel(caption, canvas);
    box->setTextFormat(Qt::PlainText);
    box->setFont(DesignFont(kSerif, 21));
    box->setAlignment(Qt::AlignCenter);
    box->setFrameStyle(QFrame::Box | QFrame::Plain);
    box->setLineWidth(1);
    box->setGeometry(geometry);
    SetOwnBackground(box, canvas->palette().color(QPalette::Button));
    return box;
}

QPushButton *PlaceButton(QWidget *canvas, const QString &text, QRect geometry, bool enabled) {
    auto *button = new QPushButton(text, canvas);
    button->setFont(DesignFont(kSerif, 19));
    button->setGeometry(geometry);
    button->setEnabled(enabled);
    return button;
}

ActivityIndicator *PlaceIndicator(QWidget *canvas, int left, int top) {
    auto *indicator = new ActivityIndicator(canvas);
    indicator->move(left, top);
    return indicator;
}

QTimer *MakeTimer(QObject *owner, int periodMs) {
    auto *timer = new QTimer(owner);
    timer->setTimerType(Qt::PreciseTimer);
    timer->setSingleShot(false);
    timer->setInterval(periodMs);
    return timer;
}

// Calls `action` before the watched object handles each event of `type`.
class EventTap : public QObject {
public:
    EventTap(QObject *watched, QEvent::Type type, std::function<void()> action)
        : QObject(watched), type_(type), action_(std::move(action)) {
        watched->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == type_)
            action_();
        return false;
    }

private:
    QEvent::Type type_;
    std::function<void()> action_;
};

} // namespace

TForm1::TForm1(QWidget *parent) : QWidget(parent) {
    buildLayout();
    connectHandlers();
    RunHandler([this] { FormCreate(); });
}

void TForm1::buildLayout() {
    setWindowTitle(QStringLiteral("Связь с ЭВМ"));
    setFont(DesignFont(kSans, 11));
    // The window's background is the system's window (text area) colour, not the dialog grey.
    QPalette windowPalette = palette();
    windowPalette.setColor(QPalette::Window, windowPalette.color(QPalette::Base));
    setPalette(windowPalette);

    scrollArea_ = AddScrollArea(this);

    auto *canvas = new FixedLayoutCanvas;
    canvas->setAutoFillBackground(true);

    // Port set-up
    Label21 = PlaceHeading(canvas, QStringLiteral("Установка порта"), 38, 3);
    ComboBox1 = new QComboBox(canvas);
    ComboBox1->setEditable(false);
    ComboBox1->addItems({QStringLiteral("COM1"), QStringLiteral("COM2"), QStringLiteral("COM3"),
                         QStringLiteral("COM4"), QStringLiteral("COM5")});
    ComboBox1->setCurrentIndex(-1);
    ComboBox1->setGeometry(16, 52, 105, 21);
    Button5 = PlaceButton(canvas, QStringLiteral("Открыть"), {139, 52, 113, 41}, true);

    // Bus scan
    Label22 = PlaceHeading(canvas, QStringLiteral("Поиск устройства"), 38, 123);
    Button4 = PlaceButton(canvas, QStringLiteral("Пуск"), {16, 180, 105, 41}, false);
    Button1 = PlaceButton(canvas, QStringLiteral("Стоп"), {139, 180, 113, 41}, false);
    ProgressBar1 = new QProgressBar(canvas);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setGeometry(16, 227, 236, 38);
    QPalette progressPalette = ProgressBar1->palette();
    for (auto role : {QPalette::Highlight, QPalette::Base, QPalette::Window, QPalette::Button})
        progressPalette.setColor(role, kProgressColour);
    ProgressBar1->setPalette(progressPalette);
    Label26 =
        PlaceAutoSizeLabel(canvas, QString(14, QLatin1Char(' ')), 104, 276, DesignFont(kSerif, 16));
    SetTextColour(Label26, Qt::black);
    SetOwnBackground(Label26, Qt::white);
    Panel11 =
        PlaceCaptionBox(canvas, QStringLiteral("Результаты сканирования"), {16, 313, 236, 30});
    ListBox1 = new QListWidget(canvas);
    ListBox1->setFont(DesignFont(kSans, 16));
    ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListBox1->setGeometry(16, 341, 236, 253);
    Button6 =
        PlaceButton(canvas, QStringLiteral("Чтение текущих показаний"), {16, 600, 236, 57}, false);
    Button2 = PlaceButton(canvas, QStringLiteral("Управление камерой"), {16, 663, 236, 65}, false);
    CheckBox1 = new QCheckBox(QStringLiteral("Запись в файл"), canvas);
    CheckBox1->setFont(DesignFont(kSerif, 21));
    CheckBox1->setGeometry(8, 734, 153, 49);
    CheckBox1->setChecked(false);
    CheckBox1->setEnabled(false);

    // Temperature and humidity
    Label23 = PlaceHeading(canvas, QStringLiteral(" Температура/влажность"), 499, 3);
    ActivityIndicator1 = PlaceIndicator(canvas, 780, 3);
    Label5 = PlaceFigure(canvas, {372, 60, 194, 105}, 83, true, kCurrentValueColour);
    SetOwnBackground(Label5, Qt::white);
    Label18 = PlaceFigure(canvas, {780, 60, 194, 105}, 83, true, kSetValueColour);
    Panel2 =
        PlaceCaptionBox(canvas, QStringLiteral("Текущая температура, °C"), {311, 171, 325, 30});
    Panel3 =
        PlaceCaptionBox(canvas, QStringLiteral("Заданная температура, °C"), {712, 171, 308, 30});

    // Times
    Label24 = PlaceHeading(canvas, QStringLiteral("Временные показатели"), 531, 227);
    ActivityIndicator2 = PlaceIndicator(canvas, 802, 227);
    Label15 = PlaceFigure(canvas, {341, 294, 208, 73}, 75, false, kCurrentValueColour);
    Label11 = PlaceFigure(canvas, {766, 294, 225, 73}, 75, false, kCurrentValueColour);
    Label3 = PlaceFigure(canvas, {341, 432, 225, 73}, 75, false, kSetValueColour);
    Label19 = PlaceFigure(canvas, {766, 432, 208, 73}, 75, false, kSetValueColour);
    Panel4 = PlaceCaptionBox(canvas, QStringLiteral("Время выхода на режим, чч:мм"),
                             {311, 373, 291, 30});
    Panel9 =
        PlaceCaptionBox(canvas, QStringLiteral("Время стабилизации, чч:мм"), {744, 373, 260, 30});
    Panel10 = PlaceCaptionBox(canvas, QStringLiteral("Уставка времени выхода на режим, чч:мм"),
                              {273, 530, 376, 30});
    Panel5 = PlaceCaptionBox(canvas, QStringLiteral("Уставка времени стабилизации, чч:мм"),
                             {696, 530, 349, 30});

    // Thermocycling
    Label25 = PlaceHeading(canvas, QStringLiteral("Параметры термоциклирования"), 509, 592);
    ActivityIndicator3 = PlaceIndicator(canvas, 883, 592);
    Label13 = PlaceFigure(canvas, {301, 643, 256, 81}, 75, false, kCurrentValueColour);
    Label17 = PlaceFigure(canvas, {584, 643, 200, 81}, 75, false, kCurrentValueColour);
    Label20 = PlaceFigure(canvas, {832, 643, 274, 81}, 75, false, kCurrentValueColour);
    Panel6 =
        PlaceCaptionBox(canvas, QStringLiteral("Текущий шаг(всего шагов)"), {304, 747, 253, 30});
    Panel7 = PlaceCaptionBox(canvas, QStringLiteral("Текущая программа"), {582, 747, 200, 30});
    Panel8 =
        PlaceCaptionBox(canvas, QStringLiteral("Текущий цикл(всего циклов)"), {837, 747, 261, 30});

    // Bottom line
    Label1 = PlaceAutoSizeLabel(canvas, QStringLiteral("v12.23.134.4.12.05"), 8, 799, font());
    Label8 = new QLabel(canvas);
    Label8->setTextFormat(Qt::PlainText);
    Label8->setFont(DesignFont(kSerif, 16));
    Label8->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Label8->setGeometry(830, 793, 268, 19);

    ShowCanvas(scrollArea_, canvas);
    nameControls();

    setTabOrder(ComboBox1, Button4);
    setTabOrder(Button4, Button5);
    setTabOrder(Button5, ListBox1);
    setTabOrder(ListBox1, Button6);
    setTabOrder(Button6, CheckBox1);
    setTabOrder(CheckBox1, Button1);
    setTabOrder(Button1, Button2);

    Timer1 = MakeTimer(this, 4000);
    Timer2 = MakeTimer(this, 500);
    Timer4 = MakeTimer(this, 60000);
    Timer5 = MakeTimer(this, 100);
    Timer6 = MakeTimer(this, 5000);
    Timer2->start();

    SetOuterGeometry(this, {1127, 856}, QPoint(0, 0));
}

// The designed names, so that a control can be found by the name the handlers use.
#define NAMED(control)                                                                             \
    { control, #control }
void TForm1::nameControls() {
    // clang-format off
    const std::pair<QObject *, const char *> names[] = {
        NAMED(Label21), NAMED(ComboBox1), NAMED(Button5), NAMED(Label22), NAMED(Button4),
        NAMED(Button1), NAMED(ProgressBar1), NAMED(Label26), NAMED(Panel11), NAMED(ListBox1),
        NAMED(Button6), NAMED(Button2), NAMED(CheckBox1), NAMED(Label23), NAMED(Label24),
        NAMED(Label25), NAMED(Label5), NAMED(Label18), NAMED(Label15), NAMED(Label11),
        NAMED(Label3), NAMED(Label19), NAMED(Label13), NAMED(Label17), NAMED(Label20),
        NAMED(Panel2), NAMED(Panel3), NAMED(Panel4), NAMED(Panel5), NAMED(Panel6), NAMED(Panel7),
        NAMED(Panel8), NAMED(Panel9), NAMED(Panel10), NAMED(ActivityIndicator1),
        NAMED(ActivityIndicator2), NAMED(ActivityIndicator3), NAMED(Label1), NAMED(Label8)};
    // clang-format on
    for (const auto &[control, name] : names)
        control->setObjectName(QLatin1String(name));
}
#undef NAMED

void TForm1::connectHandlers() {
    const auto wire = [this](auto *sender, auto signal, void (TForm1::*handler)()) {
        connect(sender, signal, this,
                [this, handler] { RunHandler([this, handler] { (this->*handler)(); }); });
    };
    wire(ComboBox1, &QComboBox::activated, &TForm1::ComboBox1Change);
    wire(Button5, &QPushButton::clicked, &TForm1::Button5Click);
    wire(Button4, &QPushButton::clicked, &TForm1::Button4Click);
    wire(Button1, &QPushButton::clicked, &TForm1::Button1Click);
    wire(Button6, &QPushButton::clicked, &TForm1::Button6Click);
    wire(Button2, &QPushButton::clicked, &TForm1::Button2Click);
    // toggled, not clicked: a tick changed from code must reach the handler as a click does.
    wire(CheckBox1, &QCheckBox::toggled, &TForm1::CheckBox1Click);
    wire(Timer1, &QTimer::timeout, &TForm1::Timer1Timer);
    wire(Timer2, &QTimer::timeout, &TForm1::Timer2Timer);
    wire(Timer4, &QTimer::timeout, &TForm1::Timer4Timer);
    wire(Timer5, &QTimer::timeout, &TForm1::Timer5Timer);
    wire(Timer6, &QTimer::timeout, &TForm1::Timer6Timer);

    // The list's click: a press that changes the selection runs the handler at once (the keyboard
    // changes it the same way); the click that ends such a press must not run it a second time,
    // while a click on the entry already selected still runs it.
    struct ListClickState {
        bool mouseDown = false;
        bool handledOnPress = false;
    };
    auto state = std::make_shared<ListClickState>();
    new EventTap(ListBox1->viewport(), QEvent::MouseButtonPress, [state] {
        state->mouseDown = true;
        state->handledOnPress = false;
    });
    new EventTap(ListBox1->viewport(), QEvent::MouseButtonRelease,
                 [state] { state->mouseDown = false; });
    connect(ListBox1, &QListWidget::itemSelectionChanged, this, [this, state] {
        state->handledOnPress = state->mouseDown;
        RunHandler([this] { ListBox1Click(); });
    });
    connect(ListBox1, &QListWidget::itemClicked, this, [this, state] {
        const bool handled = state->handledOnPress;
        state->handledOnPress = false;
        if (!handled)
            RunHandler([this] { ListBox1Click(); });
    });
}

void TForm1::closeEvent(QCloseEvent *event) {
    RunHandler([this] { FormClose(); });
    event->accept();
    // Not quit(): that asks every window to close first, and the error windows and the link-lost
    // window refuse (they only hide), which would keep the program running.
    QCoreApplication::exit(0);
}
