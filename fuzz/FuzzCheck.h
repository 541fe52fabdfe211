#pragma once
// A failed invariant ends the run with a message; libFuzzer then saves the input as a crash.
#include <QString>
#include <cstdio>
#include <cstdlib>

[[noreturn]] inline void FuzzFailure(const char *file, int line, const char *condition,
                                     const QString &detail) {
    std::fprintf(stderr, "%s:%d: invariant failed: %s\n  %s\n", file, line, condition,
                 detail.toUtf8().constData());
    std::abort();
}

#define FUZZ_CHECK(condition, detail)                                                              \
    do {                                                                                           \
        if (!(condition))                                                                          \
            FuzzFailure(__FILE__, __LINE__, #condition, (detail));                                 \
    } while (false)

// Quoted, with every character outside printable ASCII as \u{...}, so a report shows the text.
inline QString Shown(const QString &text) {
    QString shown = QStringLiteral("\"");
    for (const QChar c : text) {
        if (c.unicode() >= 0x20 && c.unicode() < 0x7F)
            shown += c;
        else
            shown += QStringLiteral("\\u{%1}").arg(c.unicode(), 0, 16);
    }
    return shown + QLatin1Char('"');
}
