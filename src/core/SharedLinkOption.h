#pragma once
// A --share value: the path of the link, and the one user it is made for, if any
// ("/run/kalvora/bench1/anna:anna"). A link made for a user is opened by that user only, so the
// writes through it are that user's; a link without one is any operator's, whose writes the
// audit trail gives to "unknown".
#include <QString>
#include <optional>

struct SharedLinkOption {
    QString path;
    QString user; // empty: the link is not made for one user
    bool operator==(const SharedLinkOption &) const = default;
};

// The text after the last ':' is the user when it holds no '/', so that a path with a colon in
// a folder's name still reads as a path. An empty path or user is an error, told in *error.
std::optional<SharedLinkOption> ParseSharedLinkOption(const QString &text, QString *error);
