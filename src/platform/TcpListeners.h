#pragma once
// Listening TCP sockets for the logger's HTTP server, and the few socket calls the server needs
// around the HTTP library that serves them. The library accepts, reads and writes; this room
// only binds, lowers a thread's priority and cuts a connection that ran out of time.
#include <string>
#include <vector>

// One listening socket per address of `host` (both loopbacks of "localhost"), non-blocking and
// closed on exec. An address family the machine lacks is skipped; any other failure fails the
// whole attempt: no socket stays open, and `failure` holds the system's text
// ("Address already in use"). Never SO_REUSEPORT, which would let a second logger share the port.
std::vector<int> ListenOnEveryAddress(const std::string &host, int port, std::string &failure);
void CloseSocket(int fd);

// Ends both directions of a connected socket at once, without closing the descriptor: whoever
// owns it sees the end at its next wait and closes it itself, and the close resets the
// connection, answer bytes still queued included.
void CutConnection(int fd);

// The numeric text of a socket address (a struct sockaddr of AF_INET or AF_INET6): "127.0.0.1",
// "::1", without the port; empty for another family or none.
std::string SocketAddressText(const void *address);

// The calling thread yields the CPU to the logging under load (Linux: a nice value a thread).
void LowerThreadPriority();
