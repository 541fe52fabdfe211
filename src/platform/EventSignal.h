#pragma once
// A wake-up that one thread gives another: its descriptor is readable from notify() until
// clear(), however many notifications came between (an eventfd).
class EventSignal {
public:
    // Throws std::system_error when the system has no descriptor to spare.
    EventSignal();
    ~EventSignal();
    EventSignal(const EventSignal &) = delete;
    EventSignal &operator=(const EventSignal &) = delete;

    int fd() const { return fd_; }
    // From any thread; never blocks.
    void notify();
    // Makes the descriptor unreadable until the next notify().
    void clear();

private:
    int fd_ = -1;
};
