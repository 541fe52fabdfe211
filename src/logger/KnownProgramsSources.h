#pragma once
// Where the logger learns the program tables its chambers hold: program files named by
// `--program CHAMBER:NUMBER=FILE`, and the step records written through its shared links, which
// the events journal keeps (`client_write`), so that a restart knows them again.
#include "core/KnownPrograms.h"

#include <QString>
#include <vector>

struct NamedProgram {
    int chamber = 0;
    int program = 0;
    QString path;
    ProgramInput table;
    qint64 savedAtMs = 0; // the file's modification time
};

// "CHAMBER:NUMBER=FILE", the file read and checked. Throws CliError naming the option, or the
// file, its line and cell. `chambers`: the logged ones, which CHAMBER must be among.
NamedProgram ReadNamedProgram(const QString &option, const std::vector<int> &chambers);

// Every `client_write` of the journal at `path` that a chamber accepted, in file order; a
// missing journal is an empty one, and lines that are no such event are passed over.
void ReplayJournalWrites(const QString &path, KnownPrograms &known);
