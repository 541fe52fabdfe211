// Any bytes, read as UTF-8, as an alarm rule of the command line or a configuration line. A rule
// is accepted with settings inside their bounds and reads back the same from its written form,
// or rejected with a message that names the rule; never both, never a crash.
#include "logger/alarms/AlarmRuleText.h"
#include "FuzzCheck.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const AlarmRuleResult parsed = ParseAlarmRule(text);
    if (!parsed.error.isEmpty()) {
        FUZZ_CHECK(parsed.error.startsWith(QStringLiteral("alarm '")), Shown(parsed.error));
        FUZZ_CHECK(parsed.rule == AlarmRule{}, Shown(text));
        return 0;
    }
    const AlarmRule &rule = parsed.rule;
    FUZZ_CHECK(rule.kind != AlarmKind::Test, Shown(text));
    for (int chamber : rule.chambers)
        FUZZ_CHECK(chamber >= 0 && chamber <= 250, Shown(text));
    FUZZ_CHECK(rule.delay.count() >= 0 && rule.repeat.count() >= 0, Shown(text));
    FUZZ_CHECK(rule.hysteresis >= 0, Shown(text));
    if (rule.kind == AlarmKind::Deviation)
        FUZZ_CHECK(rule.limit > 0 && rule.hysteresis < rule.limit, Shown(text));
    if (rule.kind == AlarmKind::Silent)
        FUZZ_CHECK(rule.limit >= 1, Shown(text));

    const QString written = AlarmRuleText(rule);
    const AlarmRuleResult again = ParseAlarmRule(written);
    FUZZ_CHECK(again.error.isEmpty(), Shown(written) + QStringLiteral(": ") + again.error);
    FUZZ_CHECK(again.rule == rule, Shown(text) + QStringLiteral(" written as ") + Shown(written));
    return 0;
}
