#pragma once
// A blocking HTTP(S) client for tests, on libcurl: one request, its status, headers and body.
// Link PkgConfig::CURL (tests/CMakeLists.txt makes it visible to every test program).
#include <curl/curl.h>

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <string>

struct HttpReply {
    long status = 0;      // 0 when no answer came (refused, timed out, ...)
    QString error;        // libcurl's reason when status is 0
    QList<QPair<QByteArray, QByteArray>> headers; // as received, names in their own case
    QByteArray body;

    bool ok() const { return status != 0; }
    QByteArray header(const QByteArray &name) const {
        for (const auto &[key, value] : headers)
            if (key.compare(name, Qt::CaseInsensitive) == 0)
                return value;
        return {};
    }
};

struct HttpRequest {
    QByteArray method = "GET";
    QByteArray body;
    QList<QByteArray> headers;   // "Name: value"
    QByteArray user, password;   // basic auth when user is not empty
    QString caFile;              // trust this certificate (TLS tests)
    bool verifyPeer = true;
    long timeoutMs = 20000;
};

// `session`, when given, is a handle kept between calls: its connection stays open (keep-alive).
inline HttpReply HttpFetch(const QString &url, const HttpRequest &request = {},
                           CURL *session = nullptr) {
    static const bool initialised = [] { return curl_global_init(CURL_GLOBAL_DEFAULT) == 0; }();
    HttpReply reply;
    if (!initialised) {
        reply.error = "curl_global_init failed";
        return reply;
    }
    CURL *curl = session ? session : curl_easy_init();
    if (session)
        curl_easy_reset(session);
    const std::string target = url.toStdString();
    curl_easy_setopt(curl, CURLOPT_URL, target.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, request.timeoutMs);
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    if (request.method == "HEAD")
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    else if (request.method != "GET")
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.constData());
    if (!request.body.isNull()) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.constData());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(request.body.size()));
    }
    curl_slist *headerList = nullptr;
    for (const QByteArray &header : request.headers)
        headerList = curl_slist_append(headerList, header.constData());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headerList);
    const std::string user = request.user.toStdString(), password = request.password.toStdString();
    if (!request.user.isEmpty()) {
        curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
        curl_easy_setopt(curl, CURLOPT_USERNAME, user.c_str());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, password.c_str());
    }
    const std::string caFile = request.caFile.toStdString();
    if (!caFile.empty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str());
    if (!request.verifyPeer) {
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    }
    curl_write_callback writeBody = [](char *data, size_t size, size_t count, void *sink) {
        static_cast<QByteArray *>(sink)->append(data, static_cast<qsizetype>(size * count));
        return size * count;
    };
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
    curl_write_callback readHeader = [](char *data, size_t size, size_t count, void *sink) {
        const QByteArray line = QByteArray(data, static_cast<qsizetype>(size * count)).trimmed();
        const qsizetype colon = line.indexOf(':');
        auto *headers = static_cast<QList<QPair<QByteArray, QByteArray>> *>(sink);
        if (line.startsWith("HTTP/"))
            headers->clear(); // a new answer (after a 100 Continue, say)
        else if (colon > 0)
            headers->append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
        return size * count;
    };
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, readHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &reply.headers);
    const CURLcode code = curl_easy_perform(curl);
    if (code == CURLE_OK)
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    else
        reply.error = QString::fromUtf8(curl_easy_strerror(code));
    curl_slist_free_all(headerList);
    if (!session)
        curl_easy_cleanup(curl);
    return reply;
}

// A client that keeps its connection from one request to the next, as a browser does.
class HttpSession {
public:
    HttpSession() : curl_(curl_easy_init()) {}
    ~HttpSession() { curl_easy_cleanup(curl_); }
    HttpSession(const HttpSession &) = delete;
    HttpSession &operator=(const HttpSession &) = delete;
    HttpReply fetch(const QString &url, const HttpRequest &request = {}) {
        return HttpFetch(url, request, curl_);
    }

private:
    CURL *curl_;
};

inline HttpReply HttpGet(quint16 port, const QString &path, const HttpRequest &request = {}) {
    return HttpFetch(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path), request);
}
