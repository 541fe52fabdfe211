#pragma once
// Which file a path names, as the file system tells it: two names (a hard link, a symbolic
// link, "./x" and "x") that lead to one file have one identity.
#include <QString>
#include <optional>
#include <sys/types.h>

struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity &) const = default;
};

// Follows symbolic links; empty when nothing can be reached by that name.
std::optional<FileIdentity> IdentityOfFile(const QString &path);
