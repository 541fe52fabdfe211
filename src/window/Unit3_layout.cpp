// The control window's controls, the program table, the keystroke filter and the error windows.
#include "Unit3.h"

#include "AppShell.h"
#include "Unit4.h"
#include "core/ControlInput.h"
#include "widgets/FormLayout.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

std::vector<TForm4 *> InputErrorWindows;

namespace {

const QString kSerif = QStringLiteral("Times New Roman");

constexpr int kGridRows = 16;
constexpr int kGridColumns = 6;
constexpr int kRowHeight = 24;
// The table's designed column widths; FormCreate makes them all equal.
constexpr int kDesignedColumnWidths[kGridColumns] = {64, 65, 62, 64, 64, 182};

bool IsHeaderCell(int row, int column) { return row == 0 || column == 0; }

// Keys without text (arrows, Home, End) and keys with a function of their own are not
// keystrokes of the filter; every other text is, Ctrl+letter codes included.
bool IsTypedCharacter(const QString &text) {
    return !text.isEmpty() && !(text.size() == 1 && KeystrokeKeepsItsFunction(text.front().unicode()));
}

class KeystrokeFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() != QEvent::KeyPress)
            return false;
        const QString text = static_cast<QKeyEvent *>(event)->text();
        if (!IsTypedCharacter(text))
            return false;
        for (QChar character : text)
            if (!KeystrokeAllowed(character.unicode()))
                return true;
        return false;
    }
};

QLabel *PlaceLabel(QWidget *canvas, const QString &text, int left, int top) {
    return PlaceAutoSizeLabel(canvas, text, left, top, DesignFont(kSerif, 19));
}

QPushButton *PlaceButton(QWidget *canvas, const QString &text, QRect geometry) {
    auto *button = new QPushButton(text, canvas);
    button->setFont(DesignFont(kSerif, 19));
    button->setGeometry(geometry);
    return button;
}

QComboBox *PlaceProgramNumberList(QWidget *canvas, QRect geometry) {
    auto *list = new QComboBox(canvas);
    list->setEditable(false);
    list->setFont(DesignFont(kSerif, 19));
    for (int number = 1; number <= 15; ++number)
        list->addItem(QString::number(number));
    list->setCurrentIndex(-1);
    list->setGeometry(geometry);
    return list;
}

QLineEdit *PlaceEdit(QWidget *canvas, QRect geometry, QObject *filter) {
    auto *edit = new QLineEdit(canvas);
    edit->setGeometry(geometry);
    edit->installEventFilter(filter);
    return edit;
}

void StyleAsHeader(QTableWidgetItem *item, const QTableWidget *grid) {
    item->setFlags(Qt::ItemIsEnabled);
    item->setBackground(grid->palette().color(QPalette::Button));
}

QTableWidget *PlaceProgramTable(QWidget *canvas) {
    auto *grid = new QTableWidget(kGridRows, kGridColumns, canvas);
    grid->horizontalHeader()->hide();
    grid->verticalHeader()->hide();
    grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid->verticalHeader()->setMinimumSectionSize(1);
    grid->verticalHeader()->setDefaultSectionSize(kRowHeight);
    for (int column = 0; column < kGridColumns; ++column)
        grid->setColumnWidth(column, kDesignedColumnWidths[column]);
    grid->setShowGrid(true);
    grid->setSelectionMode(QAbstractItemView::ContiguousSelection);
    grid->setSelectionBehavior(QAbstractItemView::SelectItems);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Without a frame the six columns of 120 fill the 720 pixels exactly.
    grid->setFrameShape(QFrame::NoFrame);
    grid->setGeometry(0, 176, 753, 425);
    for (int row = 0; row < kGridRows; ++row)
        for (int column = 0; column < kGridColumns; ++column) {
            auto *item = new QTableWidgetItem;
            if (IsHeaderCell(row, column))
                StyleAsHeader(item, grid);
            grid->setItem(row, column, item);
        }
    grid->setCurrentCell(1, 1);
    return grid;
}

} // namespace

TForm3::TForm3(QWidget *parent) : QWidget(parent) {
    buildLayout();
    connectHandlers();
    addProgramActions();
    RunHandler([this] { FormCreate(); });
}

void TForm3::buildLayout() {
    setWindowTitle(QStringLiteral("Управление с ЭВМ"));
    setFont(DesignFont(QStringLiteral("Tahoma"), 11));

    scrollArea_ = AddScrollArea(this);

    auto *canvas = new FixedLayoutCanvas;
    auto *filter = new KeystrokeFilter(this);

    StringGrid1 = PlaceProgramTable(canvas);
    ComboBox1 = PlaceProgramNumberList(canvas, {124, 23, 121, 29});
    Edit1 = PlaceEdit(canvas, {124, 68, 121, 21}, filter);
    Edit2 = PlaceEdit(canvas, {124, 114, 121, 21}, filter);
    Button1 = PlaceButton(canvas, QStringLiteral("Записать программы"), {768, 533, 349, 112});
    Button2 =
        PlaceButton(canvas, QStringLiteral("Запуск камеры(ручной режим)"), {768, 23, 349, 81});
    Button3 =
        PlaceButton(canvas, QStringLiteral("Останов камеры(ручной режим)"), {768, 110, 349, 81});
    Edit3 = PlaceEdit(canvas, {604, 28, 121, 21}, filter);
    Button4 = PlaceButton(canvas, QStringLiteral("Записать уставки ручного задания"),
                          {768, 415, 349, 112});
    Button5 = PlaceButton(canvas, QStringLiteral("Запуск камеры(программы)"), {768, 193, 349, 81});
    Button6 = PlaceButton(canvas, QStringLiteral("Останов камеры(программы)"), {768, 328, 349, 81});
    ComboBox2 = PlaceProgramNumberList(canvas, {932, 280, 121, 29});

    Label1 = PlaceLabel(canvas, QStringLiteral("Программа №:"), 0, 26);
    Label3 = PlaceLabel(canvas, QStringLiteral(" Число шагов:"), 0, 66);
    Label4 = PlaceLabel(canvas, QStringLiteral(" Число циклов:"), -3, 112);
    // Latin "C" here, unlike the table's header.
    Label5 =
        PlaceLabel(canvas, QStringLiteral("Уставка температуры (ручное задание), °C:"), 251, 26);
    Label2 = PlaceLabel(canvas, QStringLiteral("Свойства выбранной программы"), 232, 149);
    Label7 = PlaceLabel(canvas, QStringLiteral("С программы №:"), 776, 280);

    ShowCanvas(scrollArea_, canvas);
#define NAMED(control)                                                                             \
    { control, #control }
    const std::pair<QObject *, const char *> names[] = {
        NAMED(StringGrid1), NAMED(ComboBox1), NAMED(ComboBox2), NAMED(Edit1),   NAMED(Edit2),
        NAMED(Edit3),       NAMED(Button1),   NAMED(Button2),   NAMED(Button3), NAMED(Button4),
        NAMED(Button5),     NAMED(Button6),   NAMED(Label1),    NAMED(Label2),  NAMED(Label3),
        NAMED(Label4),      NAMED(Label5),    NAMED(Label7)};
#undef NAMED
    for (const auto &[control, name] : names)
        control->setObjectName(QLatin1String(name));

    QWidget *tabOrder[] = {StringGrid1, ComboBox1, Edit1,   Edit2,   Button1, Button2,
                           Button3,     Edit3,     Button4, Button5, Button6, ComboBox2};
    for (std::size_t i = 1; i < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    SetOuterGeometry(this, {1141, 701});
}

void TForm3::connectHandlers() {
    connect(ComboBox1, &QComboBox::activated, this,
            [this] { RunHandler([this] { ComboBox1Change(); }); });
    const std::pair<QPushButton *, void (TForm3::*)()> buttons[] = {
        {Button1, &TForm3::Button1Click}, {Button2, &TForm3::Button2Click},
        {Button3, &TForm3::Button3Click}, {Button4, &TForm3::Button4Click},
        {Button5, &TForm3::Button5Click}, {Button6, &TForm3::Button6Click}};
    for (const auto &[button, handler] : buttons)
        connect(button, &QPushButton::clicked, this,
                [this, handler] { RunHandler([this, handler] { (this->*handler)(); }); });
}

QString TForm3::cellText(int row, int column) const {
    const QTableWidgetItem *item = StringGrid1->item(row, column);
    return item ? item->text() : QString();
}

void TForm3::setCellText(int row, int column, const QString &text) {
    if (QTableWidgetItem *item = StringGrid1->item(row, column)) {
        item->setText(text);
        return;
    }
    auto *item = new QTableWidgetItem(text);
    if (IsHeaderCell(row, column))
        StyleAsHeader(item, StringGrid1);
    StringGrid1->setItem(row, column, item);
}

void TForm3::closeEvent(QCloseEvent *event) {
    event->ignore();
    hide();
}

void ShowInputError() {
    auto *window = new TForm4;
    window->setWindowTitle(QStringLiteral("Ошибка"));
    SetOuterGeometry(window, {650, 200});
    InputErrorWindows.push_back(window);
    window->show();
}
