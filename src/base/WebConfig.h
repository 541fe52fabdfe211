#pragma once
// The login and TLS of the pages Kalvora serves, from a web configuration file in the
// convention of Prometheus exporters (YAML):
//
//     tls_server_config:
//       cert_file: logger.crt        # relative paths are taken from the file's folder
//       key_file: logger.key
//     basic_auth_users:
//       anna: $2y$10$...             # bcrypt, as htpasswd -nBC 10 makes it
//
// Failure policy: a file that cannot be read, does not parse, names a key this program does not
// know, lacks half of a pair, or holds a password that is not a bcrypt hash stops the start
// (CliError, exit 2, naming the file and the problem). A file that would leave the pages as open
// as no file at all is refused too: the server never starts open by mistake.
#include <QByteArray>
#include <QString>

#include <map>

struct WebConfig {
    QString path;
    QString certFile; // absolute; empty without TLS
    QString keyFile;
    QByteArray certPem; // the files' contents, read once at start
    QByteArray keyPem;
    std::map<QString, QByteArray> users; // name -> bcrypt hash

    bool tls() const { return !certFile.isEmpty(); }
    bool login() const { return !users.empty(); }
};

// Throws CliError(kExitUsage) with "PATH: problem".
WebConfig LoadWebConfig(const QString &path);

// Whether `password` is the user's, checked with crypt(3). Unknown users take as long as known
// ones, so that the time of an answer does not tell which names exist.
bool CheckWebPassword(const WebConfig &config, const QString &user, const QByteArray &password);
