#include "logger/metrics/PrometheusWriter.h"

#include "core/NumberText.h"

#include <cmath>

QString EscapedLabelValue(const QString &value) {
    QString text;
    text.reserve(value.size());
    for (const QChar c : value) {
        if (c == QLatin1Char('\\'))
            text += QLatin1String("\\\\");
        else if (c == QLatin1Char('"'))
            text += QLatin1String("\\\"");
        else if (c == QLatin1Char('\n'))
            text += QLatin1String("\\n");
        else
            text += c;
    }
    return text;
}

QString EscapedHelp(const QString &help) {
    QString text = help;
    text.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    text.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    return text;
}

PrometheusWriter::Family::Family(QString name, Type type, QString help)
    : name_(std::move(name)), type_(type), help_(std::move(help)) {}

void PrometheusWriter::Family::add(const MetricLabels &labels, double value) {
    if (std::isnan(value))
        line(labels, QStringLiteral("NaN"));
    else if (std::isinf(value))
        line(labels, value > 0 ? QStringLiteral("+Inf") : QStringLiteral("-Inf"));
    else
        line(labels, FloatToText(value, QLatin1Char('.')));
}

void PrometheusWriter::Family::addCount(const MetricLabels &labels, unsigned long long count) {
    line(labels, QString::number(count));
}

void PrometheusWriter::Family::line(const MetricLabels &labels, const QString &value) {
    samples_ += name_;
    if (!labels.empty()) {
        samples_ += QLatin1Char('{');
        for (std::size_t i = 0; i < labels.size(); ++i) {
            if (i > 0)
                samples_ += QLatin1Char(',');
            samples_ += labels[i].name + QLatin1String("=\"") +
                        EscapedLabelValue(labels[i].value) + QLatin1Char('"');
        }
        samples_ += QLatin1Char('}');
    }
    samples_ += QLatin1Char(' ') + value + QLatin1Char('\n');
}

PrometheusWriter::Family &PrometheusWriter::family(const QString &name, Type type,
                                                   const QString &help) {
    for (Family &f : families_)
        if (f.name_ == name)
            return f;
    return families_.emplace_back(Family(name, type, help));
}

QString PrometheusWriter::text() const {
    QString text;
    for (const Family &f : families_)
        text += QStringLiteral("# HELP %1 %2\n# TYPE %1 %3\n")
                    .arg(f.name_, EscapedHelp(f.help_),
                         f.type_ == Type::Counter ? QStringLiteral("counter")
                                                  : QStringLiteral("gauge")) +
                f.samples_;
    return text;
}
