#include "lab/PrometheusClient.h"

#include <QUrl>
#include <QUrlQuery>

#include <curl/curl.h>

namespace {

size_t Collect(char *data, size_t size, size_t count, void *sink) {
    static_cast<QByteArray *>(sink)->append(data, static_cast<qsizetype>(size * count));
    return size * count;
}

} // namespace

PrometheusClient::PrometheusClient(PrometheusSettings settings)
    : settings_(std::move(settings)), curl_(nullptr) {
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    if (initialised)
        curl_ = curl_easy_init();
}

PrometheusClient::~PrometheusClient() {
    if (curl_)
        curl_easy_cleanup(static_cast<CURL *>(curl_));
}

PrometheusAnswer PrometheusClient::query(const QString &promql, double at) {
    return get(QStringLiteral("/api/v1/query"),
               {{QStringLiteral("query"), promql}, {QStringLiteral("time"), QString::number(at, 'f', 3)}});
}

PrometheusAnswer PrometheusClient::queryRange(const QString &promql, double start, double end,
                                              int stepSeconds) {
    return get(QStringLiteral("/api/v1/query_range"),
               {{QStringLiteral("query"), promql},
                {QStringLiteral("start"), QString::number(start, 'f', 3)},
                {QStringLiteral("end"), QString::number(end, 'f', 3)},
                {QStringLiteral("step"), QString::number(stepSeconds)}});
}

PrometheusAnswer PrometheusClient::get(const QString &path,
                                       const QList<QPair<QString, QString>> &parameters) {
    PrometheusAnswer answer;
    CURL *curl = static_cast<CURL *>(curl_);
    if (!curl) {
        answer.error = QStringLiteral("libcurl could not be started");
        return answer;
    }
    QUrlQuery query;
    for (const auto &[name, value] : parameters)
        query.addQueryItem(name, QString::fromLatin1(QUrl::toPercentEncoding(value)));
    QString base = settings_.url;
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    const QByteArray url = (base + path + QLatin1Char('?') + query.query(QUrl::FullyEncoded)).toUtf8();
    const QByteArray user = settings_.user.toUtf8();
    const QByteArray caFile = settings_.caFile.toUtf8();
    curl_easy_reset(curl);
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(settings_.timeout.count()));
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer.body);
    if (!user.isEmpty()) {
        curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
        curl_easy_setopt(curl, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, settings_.password.constData());
    }
    if (!caFile.isEmpty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.constData());
    const CURLcode code = curl_easy_perform(curl);
    if (code != CURLE_OK) {
        answer.error = QString::fromUtf8(curl_easy_strerror(code));
        answer.body.clear();
        return answer;
    }
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    // Prometheus puts its own errors in JSON with 400, 422 or 503; anything else is no answer.
    if (status != 200 && status != 400 && status != 422 && status != 503) {
        answer.error = QStringLiteral("HTTP status %1").arg(status);
        answer.body.clear();
    }
    return answer;
}
