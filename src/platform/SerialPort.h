#pragma once
// The serial port: 57600 baud, 8 data bits, no parity, one stop bit, raw, used exclusively.
// The receive side is a thread that blocks until bytes arrive, waits for the line to fall
// silent, and stores what is queued (at most 256 bytes) from index 0 of the receive buffer.
#include <QString>
#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <thread>

using RxBufferBytes = std::array<std::atomic<std::uint8_t>, 256>;

class SerialPort {
public:
    SerialPort() = default;
    ~SerialPort();
    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;

    // Opens and configures the device. On failure returns false and sets *reason to the
    // system's reason; the port stays closed.
    bool open(const QString &devicePath, QString *reason);
    // Stops and joins the receive thread, then closes the device. Harmless when closed.
    void close();
    bool isOpen() const { return fd_ >= 0; }
    int handle() const { return fd_; } // -1: no port

    void purgeInput();
    void purgeOutput();
    void clearErrors();
    // Writes the whole frame (waits for room in the output queue if need be).
    void write(const std::uint8_t *data, std::size_t length);

    // Starts the receive thread storing into rx. Needs an open port.
    void startReceiver(RxBufferBytes &rx);
    // CPU time the receive thread has used so far; zero when none runs.
    std::chrono::nanoseconds receiverCpuTime() const;

    // How long the line must stay quiet before a read is taken as complete.
    static constexpr int kSilenceMs = 5;

private:
    void receiveLoop(RxBufferBytes *rx);
    void stopReceiver();

    int fd_ = -1;
    int stopFd_ = -1; // eventfd that wakes the receive thread to end it
    std::thread receiver_;
    std::thread::native_handle_type receiverHandle_{};
};
