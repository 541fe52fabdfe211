#pragma once
// The alarm options of `log` (and of `alarm-test`, which reads the same configuration):
//   --alarm RULE (repeatable), --on-alarm COMMAND, --on-alarm-timeout S, --alarm-webhook URL,
//   --alarm-mail TO[,TO...], --alarm-mail-from ADDRESS, --smtp URL, --smtp-auth FILE.
#include "base/CommandLine.h"
#include "logger/alarms/AlarmDelivery.h"

#include "core/AlarmRules.h"

#include <QStringList>
#include <vector>

struct AlarmSettings {
    std::vector<AlarmRule> rules;
    AlarmDeliverySettings delivery;
};

// Adds the options, with their help, to a command's parser.
void AddAlarmOptions(CommandLine &line);

// The options' names without dashes, for picking them out of a configuration file.
QStringList AlarmOptionNames();

// Reads and checks the options after line.parse(). chambersRead: the chambers the run reads,
// which every rule's chambers must be among (not checked when empty). Throws CliError: usage
// errors name the option and its bad part; an unreadable --smtp-auth file is a file error.
AlarmSettings ReadAlarmOptions(CommandLine &line, const std::vector<int> &chambersRead);

// The log --help paragraph on alarms.
QString AlarmHelpText();
