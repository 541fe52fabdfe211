#pragma once
// Alarm rules as the user writes them, one rule per --alarm option or "alarm=" line:
//
//     CHAMBERS KIND [NUMBER] [delay=TIME] [hysteresis=C] [repeat=TIME]
//
// CHAMBERS is "*" (every chamber read) or an address list ("1,3,5-8"). KIND and NUMBER:
//   high C, low C      the current temperature above / below C °C
//   deviation C        the current temperature more than C °C away from the set temperature
//   silent TIME        no good reading for TIME
//   sensor             the current temperature implausible
//   program            a notice when the program number changes or the cycles are complete
// TIME is whole seconds, or with a unit: 90s, 5m, 2h. Words are separated by blanks.
#include "core/AlarmRules.h"

#include <QString>

struct AlarmRuleResult {
    AlarmRule rule;
    QString error; // empty on success; names the rule and its bad part
};

AlarmRuleResult ParseAlarmRule(const QString &text);

// The rule in the same syntax, every setting written out; parses back to the same rule.
QString AlarmRuleText(const AlarmRule &rule);
