#pragma once
// A pseudo-terminal pair for serial tests: the program opens slavePath() as its port, the test
// (or the simulated chamber) talks on the master side.
#include <QString>
#include <chrono>
#include <cstdint>
#include <vector>

class PtyPair {
public:
    PtyPair();  // raw mode, no echo; aborts the test program if no pty can be made
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    int masterFd() const { return master_; }
    QString slavePath() const { return slavePath_; }

    void writeMaster(const std::vector<std::uint8_t> &bytes);
    // Reads what arrives on the master side until `count` bytes came or `timeout` passed.
    std::vector<std::uint8_t> readMaster(std::size_t count, std::chrono::milliseconds timeout);
    // Closes the master side: the program's end sees a hang-up.
    void closeMaster();

private:
    int master_ = -1;
    int slaveKeeper_ = -1;  // keeps the slave side's settings alive between openings
    QString slavePath_;
};
