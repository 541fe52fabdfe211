#pragma once
// The tools' --help texts, laid out for an 80-column terminal: every tool and command words its
// help in the same layout, and no line runs past the edge.
#include <QString>
#include <QStringList>

inline constexpr int kHelpWidth = 80;

// Reflows `text` to lines of at most `width` characters. Paragraphs are separated by blank lines.
// A paragraph whose lines start at the margin is filled as running text; lines that start with
// spaces (a list, a table, an example) keep their own breaks, and a long one continues under its
// own indentation. A single word longer than the width stands alone on its line.
QString WrapHelpText(const QString &text, int width = kHelpWidth);

struct HelpOption {
    QStringList names;  // "h", "help": one letter gives -h, more give --help
    QString valueName;  // empty for a flag
    QString description;
};

// "Options:" and one entry per option: the names in a column of their own, the description
// beside them, wrapped within `width`; names too wide for the column put it on the next line.
QString HelpOptionsText(const QList<HelpOption> &options, int width = kHelpWidth);
