#pragma once
// The Prometheus text exposition format (0.0.4), the one writer of every family /metrics serves.
// A family gets its # HELP and # TYPE once, however often it is named, and all its samples
// under them, families in the order first named. Label values and help texts are escaped as the
// format says (backslash, double quote, line feed): a label taken from a path or an option never
// breaks the scrape.
#include <QString>
#include <deque>
#include <vector>

struct MetricLabel {
    QString name;  // one of ours: [a-zA-Z_][a-zA-Z0-9_]*
    QString value; // any text
};
using MetricLabels = std::vector<MetricLabel>;

class PrometheusWriter {
public:
    enum class Type { Gauge, Counter };

    class Family {
    public:
        // A value the chambers report or a time: shortest text that reads back the same, NaN
        // and infinities as the format spells them.
        void add(const MetricLabels &labels, double value);
        // A count, written whole however large.
        void addCount(const MetricLabels &labels, unsigned long long count);

    private:
        friend class PrometheusWriter;
        Family(QString name, Type type, QString help);
        void line(const MetricLabels &labels, const QString &value);
        QString name_;
        Type type_;
        QString help_;
        QString samples_;
    };

    // The family of that name, made on first use with its type and help; named again, the same
    // family (its first type and help stay). The reference stays valid for the writer's life.
    Family &family(const QString &name, Type type, const QString &help);
    // Every family, each with # HELP and # TYPE even when it has no sample, so that a rule
    // written against it sees the metric exists.
    QString text() const;

private:
    std::deque<Family> families_;
};

// Label values and help texts as the format escapes them.
QString EscapedLabelValue(const QString &value);
QString EscapedHelp(const QString &help);
