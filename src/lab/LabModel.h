#pragma once
// The lab's page over Prometheus: from the answers of Prometheus's query API to benches (one
// logger each: a PC and its bus) and their chambers, judged by the rules of a logger's own page.
// Pure: the queries are made elsewhere (PrometheusClient), so every rule can be tested on
// answers written by hand.
#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <map>
#include <optional>
#include <vector>

// One series of an instant query's answer.
struct PromSample {
    std::map<QString, QString> labels; // __name__ included when Prometheus keeps it
    double value = 0;
};

// The `data.result` of an /api/v1/query answer of resultType "vector"; an error text otherwise
// (Prometheus's own "error", or what is wrong with the answer).
struct PromVector {
    std::vector<PromSample> samples;
    QString error; // empty when the answer was read
};
PromVector ParsePromVector(const QByteArray &json);

// One line of an /api/v1/query_range answer (resultType "matrix").
struct PromSeries {
    std::map<QString, QString> labels;
    std::vector<std::pair<double, double>> points; // (Unix seconds, value)
};
struct PromMatrix {
    std::vector<PromSeries> series;
    QString error;
};
PromMatrix ParsePromMatrix(const QByteArray &json);

// The chamber series the page reads, each asked as last_over_time(NAME[LOOKBACK]) so that a
// bench that can no longer be scraped keeps its chambers, marked old.
const std::vector<QString> &LabChamberMetrics();
inline constexpr int kLabLookbackHours = 24;

struct LabInputs {
    std::vector<PromSample> up;                              // up{...} of every target
    std::vector<PromSample> portUp;                          // last_over_time(kalvora_port_up)
    std::map<QString, std::vector<PromSample>> chamberLast;  // metric -> last_over_time(metric)
    std::vector<PromSample> alarms;                          // kalvora_alarm_active == 1
    double now = 0;                                          // Unix seconds
};

struct LabChamber {
    int address = 0;
    std::optional<double> temperature, setTemperature, program, step, cycle;
    std::optional<double> lastReadingAt; // Unix seconds
    bool answering = false; // fresh: its bench is scraped and the chamber answered
    bool silent = false;    // the logger says it does not answer
    bool sensorFailed = false;
    std::vector<QString> alarms; // kinds, as the logger names them
    QString state;               // "answering", "silent", "sensor", "alarm", "bench_down"
};

struct LabBench {
    QString job, instance;
    QString name; // the target's bench label, else its instance
    QString page; // the logger's own page: the target's page label, else http://INSTANCE/
    bool up = false;     // Prometheus scrapes it now
    bool portUp = false; // its serial port works
    std::vector<LabChamber> chambers;
};

// Benches in the order of their names, chambers by address.
std::vector<LabBench> BuildLab(const LabInputs &inputs);

// The /api/lab answer (docs/http-api.md).
QJsonObject LabJson(const std::vector<LabBench> &benches, double now, const QString &prometheus,
                    const QString &prometheusError);
