#include "platform/TcpListeners.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

std::vector<int> ListenOnEveryAddress(const std::string &host, int port, std::string &failure) {
    failure.clear();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo *found = nullptr;
    const std::string service = std::to_string(port);
    if (const int error = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found)) {
        failure = host + ": " + ::gai_strerror(error);
        return {};
    }
    bool withIpv4 = false;
    for (const addrinfo *a = found; a; a = a->ai_next)
        withIpv4 = withIpv4 || a->ai_family == AF_INET;
    std::vector<int> sockets;
    std::vector<std::string> bound;
    for (const addrinfo *a = found; a && failure.empty(); a = a->ai_next) {
        const std::string key(reinterpret_cast<const char *>(a->ai_addr), a->ai_addrlen);
        if (std::find(bound.begin(), bound.end(), key) != bound.end())
            continue; // a name listed twice in /etc/hosts
        const int fd =
            ::socket(a->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0) {
            if (errno != EAFNOSUPPORT)
                failure = std::strerror(errno);
            continue;
        }
        // SO_REUSEADDR only lets a restart bind past connections in TIME_WAIT.
        const int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (a->ai_family == AF_INET6 && withIpv4) // both loopbacks: one socket each
            ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &yes, sizeof yes);
        if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, 64) != 0) {
            const int error = errno;
            ::close(fd);
            if (error != EADDRNOTAVAIL && error != EAFNOSUPPORT)
                failure = std::strerror(error);
            continue;
        }
        sockets.push_back(fd);
        bound.push_back(key);
    }
    ::freeaddrinfo(found);
    if (sockets.empty() && failure.empty())
        failure = host + ": no address to listen on";
    if (!failure.empty()) {
        for (int fd : sockets)
            ::close(fd);
        sockets.clear();
    }
    return sockets;
}

void CloseSocket(int fd) {
    if (fd >= 0)
        ::close(fd);
}

void CutConnection(int fd) {
    // Without lingering, the close that follows resets the connection and drops what is still
    // queued for the client, instead of the system sending it on for as long as the client reads.
    const linger none{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &none, sizeof none);
    ::shutdown(fd, SHUT_RDWR);
}

void LowerThreadPriority() {
    [[maybe_unused]] const int ignored =
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 5);
}

std::string SocketAddressText(const void *address) {
    if (!address)
        return {};
    char text[INET6_ADDRSTRLEN] = {};
    const auto *generic = static_cast<const sockaddr *>(address);
    const void *bytes = nullptr;
    if (generic->sa_family == AF_INET)
        bytes = &static_cast<const sockaddr_in *>(address)->sin_addr;
    else if (generic->sa_family == AF_INET6)
        bytes = &static_cast<const sockaddr_in6 *>(address)->sin6_addr;
    if (!bytes || !::inet_ntop(generic->sa_family, bytes, text, sizeof text))
        return {};
    return text;
}
