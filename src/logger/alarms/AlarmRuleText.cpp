#include "logger/alarms/AlarmRuleText.h"

#include "core/AddressList.h"
#include "base/OptionNumbers.h"

#include "core/NumberText.h"

#include <QRegularExpression>
#include <QStringList>

namespace {

constexpr double kLowestTemperature = -200;
constexpr double kHighestTemperature = 400;
constexpr int kLongestSeconds = 7 * 86400;

// "-12.5", "60", "+3": digits with at most one decimal point, never a comma or an exponent.
std::optional<double> ParseCelsius(const QString &text) {
    static const QRegularExpression number(QStringLiteral("^[+-]?[0-9]{1,4}(\\.[0-9]{1,3})?$"));
    if (!number.match(text).hasMatch())
        return std::nullopt;
    const double value = text.toDouble(); // QString::toDouble ignores the locale
    if (value < kLowestTemperature || value > kHighestTemperature)
        return std::nullopt;
    return value;
}

// "300", "90s", "5m", "2h".
std::optional<int> ParseSeconds(const QString &text) {
    if (text.isEmpty())
        return std::nullopt;
    int unit = 1;
    QString digits = text;
    switch (text.back().unicode()) {
    case u's':
        digits.chop(1);
        break;
    case u'm':
        unit = 60;
        digits.chop(1);
        break;
    case u'h':
        unit = 3600;
        digits.chop(1);
        break;
    default:
        break;
    }
    const auto count = ParseDecimal(digits, 0, kLongestSeconds);
    if (!count || static_cast<long long>(*count) * unit > kLongestSeconds)
        return std::nullopt;
    return *count * unit;
}

QString Kinds() { return QStringLiteral("high, low, deviation, silent, sensor, program"); }

QString TimeText(std::chrono::seconds s) {
    const long long n = s.count();
    if (n != 0 && n % 3600 == 0)
        return QString::number(n / 3600) + QLatin1Char('h');
    if (n != 0 && n % 60 == 0)
        return QString::number(n / 60) + QLatin1Char('m');
    return QString::number(n) + QLatin1Char('s');
}

} // namespace

AlarmRuleResult ParseAlarmRule(const QString &text) {
    AlarmRuleResult result;
    const auto fail = [&](const QString &why) {
        result.rule = {};
        result.error = QStringLiteral("alarm '%1': %2").arg(text.simplified(), why);
        return result;
    };
    static const QRegularExpression blanks(QStringLiteral("[ \\t]+"));
    const QStringList words = text.trimmed().split(blanks, Qt::SkipEmptyParts);
    if (words.size() < 2)
        return fail(
            QStringLiteral("give the chambers and a kind, e.g. '1,3 high 60' or '* silent 5m'"));

    AlarmRule &rule = result.rule;
    if (words[0] != QLatin1String("*")) {
        const AddressListResult chambers = ParseAddressList(words[0], AddressOrder::Ascending);
        if (!chambers.error.isEmpty())
            return fail(
                QStringLiteral("chambers: %1; or '*' for every chamber").arg(chambers.error));
        rule.chambers = chambers.addresses;
    }
    const auto kind = AlarmKindFromName(words[1]);
    if (!kind || *kind == AlarmKind::Test)
        return fail(QStringLiteral("unknown kind '%1' (%2)").arg(words[1], Kinds()));
    rule.kind = *kind;

    qsizetype next = 2;
    const bool takesNumber = rule.kind == AlarmKind::High || rule.kind == AlarmKind::Low ||
                             rule.kind == AlarmKind::Deviation || rule.kind == AlarmKind::Silent;
    if (takesNumber) {
        const QString number = words.value(next);
        if (number.isEmpty() || number.contains(QLatin1Char('=')))
            return fail(rule.kind == AlarmKind::Silent
                            ? QStringLiteral("silent needs a time, e.g. 'silent 5m'")
                            : QStringLiteral("%1 needs a temperature in °C, e.g. '%1 %2'")
                                  .arg(words[1], rule.kind == AlarmKind::Deviation ? "3" : "60"));
        ++next;
        if (rule.kind == AlarmKind::Silent) {
            const auto seconds = ParseSeconds(number);
            if (!seconds || *seconds == 0)
                return fail(QStringLiteral("'%1' is not a time (seconds, or 90s, 5m, 2h; above 0)")
                                .arg(number));
            rule.limit = *seconds;
        } else {
            const auto celsius = ParseCelsius(number);
            if (!celsius)
                return fail(
                    QStringLiteral("'%1' is not a temperature (°C with a decimal point, %2 to %3)")
                        .arg(number)
                        .arg(kLowestTemperature)
                        .arg(kHighestTemperature));
            if (rule.kind == AlarmKind::Deviation && *celsius <= 0)
                return fail(QStringLiteral("the deviation band must be above 0 °C"));
            rule.limit = *celsius;
        }
    }

    const bool limited = rule.kind == AlarmKind::High || rule.kind == AlarmKind::Low ||
                         rule.kind == AlarmKind::Deviation;
    rule.delay = rule.kind == AlarmKind::Deviation ? kDefaultDeviationDelay
                 : rule.kind == AlarmKind::Silent || rule.kind == AlarmKind::Program
                     ? std::chrono::seconds(0)
                     : kDefaultDelay;
    rule.hysteresis = limited ? kDefaultHysteresis : 0;
    QStringList seen;
    for (; next < words.size(); ++next) {
        const QString &word = words[next];
        const qsizetype equals = word.indexOf(QLatin1Char('='));
        if (equals <= 0)
            return fail(
                QStringLiteral("'%1' is not a setting (delay=, hysteresis=, repeat=)").arg(word));
        const QString name = word.left(equals);
        const QString value = word.mid(equals + 1);
        if (seen.contains(name))
            return fail(QStringLiteral("%1 is given twice").arg(name));
        seen << name;
        if (name == QLatin1String("delay") || name == QLatin1String("repeat")) {
            if (rule.kind == AlarmKind::Program)
                return fail(
                    QStringLiteral("a program notice is sent at once and never repeated: no %1=")
                        .arg(name));
            if (rule.kind == AlarmKind::Silent && name == QLatin1String("delay"))
                return fail(QStringLiteral("the time of silent is its delay: no delay="));
            const auto seconds = ParseSeconds(value);
            if (!seconds)
                return fail(QStringLiteral("%1='%2' is not a time (seconds, or 90s, 5m, 2h)")
                                .arg(name, value));
            (name == QLatin1String("delay") ? rule.delay : rule.repeat) =
                std::chrono::seconds(*seconds);
        } else if (name == QLatin1String("hysteresis")) {
            if (!limited)
                return fail(QStringLiteral("only high, low and deviation take a hysteresis"));
            const auto celsius = ParseCelsius(value);
            if (!celsius || *celsius < 0)
                return fail(QStringLiteral("hysteresis='%1' is not a temperature of 0 °C or more")
                                .arg(value));
            rule.hysteresis = *celsius;
        } else {
            return fail(
                QStringLiteral("unknown setting '%1' (delay=, hysteresis=, repeat=)").arg(name));
        }
    }
    if (rule.kind == AlarmKind::Deviation && rule.hysteresis >= rule.limit)
        return fail(QStringLiteral("the hysteresis must be less than the band"));
    return result;
}

QString AlarmRuleText(const AlarmRule &rule) {
    QStringList chambers;
    for (int chamber : rule.chambers)
        chambers << QString::number(chamber);
    QStringList words{rule.chambers.empty() ? QStringLiteral("*") : chambers.join(QLatin1Char(',')),
                      AlarmKindName(rule.kind)};
    switch (rule.kind) {
    case AlarmKind::High:
    case AlarmKind::Low:
    case AlarmKind::Deviation:
        words << FloatToText(rule.limit, QLatin1Char('.'))
              << QStringLiteral("delay=") + TimeText(rule.delay)
              << QStringLiteral("hysteresis=") + FloatToText(rule.hysteresis, QLatin1Char('.'));
        break;
    case AlarmKind::Silent:
        words << TimeText(std::chrono::seconds(static_cast<long long>(rule.limit)));
        break;
    case AlarmKind::Sensor:
        words << QStringLiteral("delay=") + TimeText(rule.delay);
        break;
    default:
        break;
    }
    if (rule.kind != AlarmKind::Program)
        words << QStringLiteral("repeat=") + TimeText(rule.repeat);
    return words.join(QLatin1Char(' '));
}
