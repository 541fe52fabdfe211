// The input error window: a fixed list of the entries' ranges.
#include "Unit4.h"

#include "widgets/FormLayout.h"

TForm4 *Form4 = nullptr;

namespace {

struct RangeText {
    int left;
    int top;
    const char16_t *text;
};

// "º" (U+00BA) in the temperature line is this window's own sign, not the degree sign.
constexpr RangeText kRangeTexts[] = {
    {48, 32, u"Правильно заполните все ячейки, учитывая следующие пределы:"},
    {72, 66, u"T, \u00BAC: [-90..190], целое;"},
    {72, 93, u"RH,%: [10..98], целое;"},
    {320, 67, u"t, чч: [0..99], целое;"},
    {320, 93, u"t, мм: [0..59], целое;"},
    {72, 120, u"число шагов: [1..15], целое;"},
    {320, 120, u"число программ: [1..15], целое."},
};

} // namespace

TForm4::TForm4(QWidget *parent) : MessageWindow(QStringLiteral("Ошибка"), parent) {
    const QFont textFont = DesignFont(QStringLiteral("Times New Roman"), 19);
    QLabel **labels[] = {&Label1, &Label2, &Label3, &Label4, &Label5, &Label6, &Label7};
    for (std::size_t i = 0; i < std::size(kRangeTexts); ++i) {
        const RangeText &range = kRangeTexts[i];
        *labels[i] = PlaceAutoSizeLabel(this, QString::fromUtf16(range.text), range.left, range.top,
                                        textFont);
        (*labels[i])->setObjectName(QStringLiteral("Label%1").arg(i + 1));
    }
    resize(619, 152);
}
