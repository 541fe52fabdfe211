#pragma once
// The serial port: 57600 baud, 8 data bits, no parity, one stop bit, raw, used exclusively.
//
// It is used in one of two ways, never both on one port:
// - The window program starts the receive thread (startReceiver()): a thread that blocks until
//   bytes arrive, waits for the line to fall silent, and appends what is queued to the port's
//   receive buffer. The buffer collects the bytes of one exchange: clearReceived() starts the
//   next one at index 0, and each later read goes right after the bytes stored before it, up
//   to 256 bytes in all. The window reads it with receivedSnapshot().
// - The command-line tool never starts the thread: LineExchange reads handle() itself, at the
//   line's pace. Only open(), write(), the purges and close() are shared.
#include "core/ModbusRtu.h"

#include <QString>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

class SerialPort {
public:
    // Diagnostics only; nothing in the program depends on them.
    struct Statistics {
        long framesWritten = 0;
        long failedWrites = 0;  // frames not written whole (error or stalled line)
    };

    SerialPort() = default;
    ~SerialPort();
    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;

    // Opens and configures the device. On failure returns false and sets *reason to the
    // system's reason (and *errorNumber to errno); the port stays closed.
    bool open(const QString &devicePath, QString *reason, int *errorNumber = nullptr);
    // Stops and joins the receive thread, then closes the device. Harmless when closed.
    void close();
    bool isOpen() const { return fd_ >= 0; }
    int handle() const { return fd_; } // -1: no port

    void purgeInput();
    void purgeOutput();
    void clearErrors();
    // Writes the whole frame (waits for room in the output queue, at most a second). False when
    // the frame could not be written whole; errno then holds the reason (ETIMEDOUT for a
    // stalled line, EBADF without a port).
    bool write(const std::uint8_t *data, std::size_t length);
    Statistics statistics() const;

    // Starts the receive thread. Needs an open port.
    void startReceiver();
    // Zeroes all 256 bytes and makes the next read land at index 0.
    void clearReceived();
    // The receive buffer as it stands.
    ReceiveBuffer receivedSnapshot() const;
    // CPU time the receive thread has used so far; zero when none runs.
    std::chrono::nanoseconds receiverCpuTime() const;

    // How long the line must stay quiet before a read is taken as complete.
    static constexpr int kSilenceMs = 5;

private:
    void receiveLoop();
    void stopReceiver();
    void store(const std::uint8_t *bytes, std::size_t count);

    int fd_ = -1;
    int stopFd_ = -1; // eventfd that wakes the receive thread to end it
    std::thread receiver_;
    std::thread::native_handle_type receiverHandle_{};

    // The receive thread stores, the caller clears and copies: one lock orders all three.
    mutable std::mutex receivedMutex_;
    ReceiveBuffer received_{};
    std::size_t receivedLength_ = 0;
    Statistics statistics_;
};
