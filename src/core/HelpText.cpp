#include "core/HelpText.h"

#include <algorithm>

namespace {

int LeadingSpaces(const QString &line) {
    int count = 0;
    while (count < line.size() && line.at(count) == QLatin1Char(' '))
        ++count;
    return count;
}

// Greedy fill of words after `firstPrefix` (first line) or `nextPrefix` (the others).
QStringList FillWords(const QStringList &words, const QString &firstPrefix,
                      const QString &nextPrefix, int width) {
    QStringList lines;
    QString line = firstPrefix;
    bool lineHasWord = false;
    for (const QString &word : words) {
        if (lineHasWord && line.size() + 1 + word.size() > width) {
            lines << line;
            line = nextPrefix;
            lineHasWord = false;
        }
        if (lineHasWord)
            line += QLatin1Char(' ');
        line += word;
        lineHasWord = true;
    }
    if (lineHasWord || lines.isEmpty())
        lines << line;
    for (QString &each : lines)
        while (each.endsWith(QLatin1Char(' ')))
            each.chop(1);
    return lines;
}

QStringList Words(const QString &text) { return text.split(QLatin1Char(' '), Qt::SkipEmptyParts); }

} // namespace

QString WrapHelpText(const QString &text, int width) {
    const QStringList lines = text.split(QLatin1Char('\n'));
    QStringList out;
    QStringList running; // the running text of the paragraph being filled
    const auto flushRunning = [&] {
        if (!running.isEmpty())
            out << FillWords(Words(running.join(QLatin1Char(' '))), QString(), QString(), width);
        running.clear();
    };
    for (const QString &line : lines) {
        if (line.trimmed().isEmpty()) {
            flushRunning();
            out << QString();
        } else if (LeadingSpaces(line) == 0) {
            running << line;
        } else {
            flushRunning();
            const int indent = LeadingSpaces(line);
            if (line.size() <= width) {
                out << line;
            } else {
                const QString prefix(indent, QLatin1Char(' '));
                out << FillWords(Words(line), prefix, prefix + QStringLiteral("  "), width);
            }
        }
    }
    flushRunning();
    return out.join(QLatin1Char('\n'));
}

QString HelpOptionsText(const QList<HelpOption> &options, int width) {
    QStringList names;
    int column = 0;
    for (const HelpOption &option : options) {
        QStringList forms;
        for (const QString &name : option.names)
            forms << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
        QString entry = QStringLiteral("  ") + forms.join(QStringLiteral(", "));
        if (!option.valueName.isEmpty())
            entry += QLatin1Char(' ') + option.valueName;
        names << entry;
        column = std::max(column, static_cast<int>(entry.size()));
    }
    // A column wider than a third of the line would squeeze every description: long names then
    // stand on a line of their own.
    column = std::min(column + 2, width / 3);
    QStringList out{QStringLiteral("Options:")};
    for (qsizetype i = 0; i < options.size(); ++i) {
        const QString pad(column, QLatin1Char(' '));
        const QStringList words = Words(options.at(i).description);
        if (names.at(i).size() + 2 > column) {
            out << names.at(i);
            out << FillWords(words, pad, pad, width);
        } else {
            const QString first = names.at(i).leftJustified(column, QLatin1Char(' '));
            out << FillWords(words, first, pad, width);
        }
    }
    return out.join(QLatin1Char('\n')) + QLatin1Char('\n');
}
