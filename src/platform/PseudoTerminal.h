#pragma once
// A pseudo-terminal pair in raw mode at 57600 baud: the simulator and the tests put one between
// the program and a chamber, the logger one between a client and its shared bus. The program
// opens slavePath() as its port, the other side talks on masterFd(). Plain POSIX, so the
// simulator shares it. One slave descriptor stays open here: a pty whose slave side nobody
// holds reports a hang-up to the master, and its settings would be lost between openings.
#include <string>

class PseudoTerminal {
public:
    // Throws std::system_error when no pty can be made. Both descriptors are close-on-exec.
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    int masterFd() const { return master_; }
    const std::string &slavePath() const { return slavePath_; }
    // The descriptor kept open on the slave side (-1 after closeSlave()).
    int slaveFd() const { return slave_; }

    // The program's end of the line sees a hang-up.
    void closeMaster();
    // The master sees a hang-up once no one else holds the slave side.
    void closeSlave();

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

// Makes `link` a symlink to `target`, replacing an older symlink (never another kind of file).
// False with *error set when it cannot.
bool makeLink(const std::string &link, const std::string &target, std::string *error);
// Removes the link only while it still points at `target`: another simulator may have taken the
// name over.
void removeLink(const std::string &link, const std::string &target);
