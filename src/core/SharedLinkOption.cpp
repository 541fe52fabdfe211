#include "SharedLinkOption.h"

#include <QRegularExpression>

std::optional<SharedLinkOption> ParseSharedLinkOption(const QString &text, QString *error) {
    SharedLinkOption link{text, {}};
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon >= 0 && !text.mid(colon + 1).contains(QLatin1Char('/'))) {
        link.path = text.left(colon);
        link.user = text.mid(colon + 1);
        // The user names a POSIX system would make: no blank, no colon, no slash.
        static const QRegularExpression name(QStringLiteral("^[A-Za-z0-9_.][A-Za-z0-9_.-]*\\$?$"));
        if (!name.match(link.user).hasMatch()) {
            *error = QStringLiteral("--share %1: '%2' after the last ':' is no user name (PATH "
                                    "or PATH:USER)")
                         .arg(text, link.user);
            return std::nullopt;
        }
    }
    if (link.path.isEmpty()) {
        *error =
            QStringLiteral("--share %1: the link's path is empty (PATH or PATH:USER)").arg(text);
        return std::nullopt;
    }
    return link;
}
