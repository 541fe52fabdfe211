#include "base/WebConfig.h"

#include "base/CliError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <crypt.h>
#include <yaml-cpp/yaml.h>

#include <cstring>
#include <set>
#include <string>

namespace {

[[noreturn]] void Refuse(const QString &path, const QString &problem) {
    throw CliError{kExitUsage, path + QStringLiteral(": ") + problem};
}

QString Text(const std::string &text) { return QString::fromStdString(text); }

void OnlyKnownKeys(const QString &path, const YAML::Node &map, const std::set<std::string> &known,
                   const QString &where) {
    for (const auto &entry : map) {
        const std::string key = entry.first.as<std::string>();
        if (!known.count(key))
            Refuse(path, QStringLiteral("%1'%2' is not supported (known: %3)")
                             .arg(where.isEmpty() ? QString() : where + QStringLiteral(": "),
                                  Text(key), [&] {
                                      QStringList names;
                                      for (const std::string &name : known)
                                          names << Text(name);
                                      return names.join(QStringLiteral(", "));
                                  }()));
    }
}

QString ScalarAt(const QString &path, const YAML::Node &map, const char *key,
                 const QString &where) {
    const YAML::Node node = map[key];
    if (!node || node.IsNull())
        return {};
    if (!node.IsScalar())
        Refuse(path, QStringLiteral("%1: %2 must be a file name").arg(where, QLatin1String(key)));
    return Text(node.as<std::string>());
}

QByteArray ReadPem(const QString &path, const QString &file, const char *what) {
    QFile pem(file);
    if (!pem.open(QIODevice::ReadOnly))
        Refuse(path, QStringLiteral("cannot read %1 %2: %3")
                         .arg(QLatin1String(what), file, pem.errorString()));
    const QByteArray bytes = pem.readAll();
    if (!bytes.contains("-----BEGIN "))
        Refuse(path, QStringLiteral("%1 %2 is not a PEM file").arg(QLatin1String(what), file));
    return bytes;
}

void ReadTls(const QString &path, const YAML::Node &tls, WebConfig &config) {
    const QString where = QStringLiteral("tls_server_config");
    if (!tls.IsMap())
        Refuse(path, where + QStringLiteral(" must hold cert_file and key_file"));
    // Client certificates, cipher and version choices are not ours to honour: a file that asks
    // for them is refused rather than served with less than it asks.
    OnlyKnownKeys(path, tls, {"cert_file", "key_file"}, where);
    const QString cert = ScalarAt(path, tls, "cert_file", where);
    const QString key = ScalarAt(path, tls, "key_file", where);
    if (cert.isEmpty() || key.isEmpty())
        Refuse(path, where + QStringLiteral(": both cert_file and key_file are needed"));
    const QDir folder = QFileInfo(path).absoluteDir();
    config.certFile = QDir::cleanPath(folder.absoluteFilePath(cert));
    config.keyFile = QDir::cleanPath(folder.absoluteFilePath(key));
    config.certPem = ReadPem(path, config.certFile, "certificate");
    config.keyPem = ReadPem(path, config.keyFile, "key");
    if (!config.certPem.contains("CERTIFICATE-----"))
        Refuse(path, QStringLiteral("certificate %1 holds no certificate").arg(config.certFile));
    if (!config.keyPem.contains("PRIVATE KEY-----"))
        Refuse(path, QStringLiteral("key %1 holds no private key").arg(config.keyFile));
}

bool IsBcrypt(const QByteArray &hash) {
    static const QRegularExpression form(
        QStringLiteral("^\\$2[aby]\\$([0-9]{2})\\$[./A-Za-z0-9]{53}$"));
    const auto match = form.match(QString::fromLatin1(hash));
    if (!match.hasMatch())
        return false;
    const int cost = match.captured(1).toInt();
    return cost >= 4 && cost <= 31;
}

void ReadUsers(const QString &path, const YAML::Node &users, WebConfig &config) {
    if (!users.IsMap() || users.size() == 0)
        Refuse(path, QStringLiteral("basic_auth_users must name at least one user"));
    for (const auto &entry : users) {
        const QString name = Text(entry.first.as<std::string>());
        if (name.isEmpty() || name.contains(QLatin1Char(':')))
            Refuse(path, QStringLiteral("basic_auth_users: '%1' is not a user name").arg(name));
        if (!entry.second.IsScalar())
            Refuse(path, QStringLiteral("basic_auth_users: %1: the password must be a bcrypt "
                                        "hash (htpasswd -nBC 10 %1)")
                             .arg(name));
        const QByteArray hash = QByteArray::fromStdString(entry.second.as<std::string>());
        if (!IsBcrypt(hash))
            Refuse(path, QStringLiteral("basic_auth_users: %1: not a bcrypt hash (make one with "
                                        "htpasswd -nBC 10 %1)")
                             .arg(name));
        config.users[name] = hash;
    }
}

} // namespace

WebConfig LoadWebConfig(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        Refuse(path, QStringLiteral("cannot read it: ") + file.errorString());
    YAML::Node root;
    try {
        root = YAML::Load(file.readAll().toStdString());
    } catch (const YAML::Exception &error) {
        Refuse(path, QStringLiteral("line %1: %2").arg(error.mark.line + 1).arg(Text(error.msg)));
    }
    if (!root.IsMap())
        Refuse(path, QStringLiteral("sets neither tls_server_config nor basic_auth_users"));
    WebConfig config;
    config.path = path;
    try {
        OnlyKnownKeys(path, root, {"tls_server_config", "basic_auth_users"}, QString());
        if (root["tls_server_config"])
            ReadTls(path, root["tls_server_config"], config);
        if (root["basic_auth_users"])
            ReadUsers(path, root["basic_auth_users"], config);
    } catch (const YAML::Exception &error) {
        Refuse(path, QStringLiteral("line %1: %2").arg(error.mark.line + 1).arg(Text(error.msg)));
    }
    if (!config.tls() && !config.login())
        Refuse(path, QStringLiteral("sets neither tls_server_config nor basic_auth_users"));
    return config;
}

bool CheckWebPassword(const WebConfig &config, const QString &user, const QByteArray &password) {
    // An unknown user is checked against a known user's hash (and refused whatever it gives),
    // so that both take the time of one crypt(3) at the cost the lab chose.
    static const QByteArray noUsers =
        "$2y$10$yqkj21EbBzLfRAtJ8T/8le1J/L2ZgeQj/0mM/JAunbCYctIjTEHvK";
    const auto found = config.users.find(user);
    const QByteArray &hash = found != config.users.end() ? found->second
                             : config.users.empty()      ? noUsers
                                                         : config.users.begin()->second;
    crypt_data data;
    std::memset(&data, 0, sizeof data);
    const char *result = crypt_r(password.constData(), hash.constData(), &data);
    if (!result || result[0] == '*')
        return false;
    const QByteArray computed(result);
    if (computed.size() != hash.size())
        return false;
    unsigned char difference = 0;
    for (qsizetype i = 0; i < hash.size(); ++i)
        difference |= static_cast<unsigned char>(computed[i] ^ hash[i]);
    return difference == 0 && found != config.users.end();
}
