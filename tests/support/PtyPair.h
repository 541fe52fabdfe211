#pragma once
// A pseudo-terminal pair for serial tests: the program opens slavePath() as its port, the test
// (or the simulated chamber) talks on the master side. Raw, no echo, made as the simulator makes
// its line.
#include "platform/PseudoTerminal.h"

#include <QString>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

// Reads what arrives on `fd` until `count` bytes came, `timeout` passed or the line hung up.
std::vector<std::uint8_t> ReadFor(int fd, std::size_t count, std::chrono::milliseconds timeout);

class PtyPair {
public:
    PtyPair(); // aborts the test program if no pty can be made

    int masterFd() const { return pty_ ? pty_->masterFd() : -1; }
    QString slavePath() const {
        return pty_ ? QString::fromStdString(pty_->slavePath()) : QString();
    }

    void writeMaster(const std::vector<std::uint8_t> &bytes);
    std::vector<std::uint8_t> readMaster(std::size_t count, std::chrono::milliseconds timeout) {
        return ReadFor(masterFd(), count, timeout);
    }
    // Closes the master side: the program's end sees a hang-up.
    void closeMaster() { pty_->closeMaster(); }
    // Closes both sides for good (masterFd() is then -1), or makes a new pair in place of the
    // old one, with a slave path of its own.
    void close() { pty_.reset(); }
    void remake();

private:
    std::unique_ptr<PseudoTerminal> pty_;
};
