#include "logger/http/RequestCheck.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cstring>
#include <netinet/in.h>

namespace {

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool AllDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return c >= '0' && c <= '9';
    });
}

// The host part of a Host value, lower case, without brackets, port or final dot; empty when
// the value is not a host with an optional port.
std::string HostPart(std::string_view value) {
    std::string_view host;
    if (!value.empty() && value.front() == '[') {
        const std::size_t close = value.find(']');
        if (close == std::string_view::npos)
            return {};
        const std::string_view after = value.substr(close + 1);
        if (!after.empty() && !(after.front() == ':' && AllDigits(after.substr(1))))
            return {};
        host = value.substr(1, close - 1);
        in6_addr address{};
        const std::string text(host);
        if (::inet_pton(AF_INET6, text.c_str(), &address) != 1)
            return {};
    } else {
        const std::size_t colon = value.find(':');
        host = value.substr(0, colon);
        if (colon != std::string_view::npos && !AllDigits(value.substr(colon + 1)))
            return {};
        if (host.empty() || !std::all_of(host.begin(), host.end(), [](char c) {
                return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' ||
                       c == '_';
            }))
            return {};
    }
    std::string lower;
    for (char c : host)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.size() > 1 && lower.back() == '.')
        lower.pop_back();
    return lower;
}

bool IsIpv4(const std::string &host, in_addr *address = nullptr) {
    in_addr parsed{};
    // inet_pton takes exactly four decimal parts: no "127.1", no octal, no hexadecimal.
    if (::inet_pton(AF_INET, host.c_str(), &parsed) != 1)
        return false;
    if (address)
        *address = parsed;
    return true;
}

bool IsIpv6(const std::string &host, in6_addr *address = nullptr) {
    in6_addr parsed{};
    if (::inet_pton(AF_INET6, host.c_str(), &parsed) != 1)
        return false;
    if (address)
        *address = parsed;
    return true;
}

// `host` as HostPart gives it.
bool LoopbackHostPart(const std::string &host) {
    if (host == "localhost" ||
        (host.size() > 10 && host.compare(host.size() - 10, 10, ".localhost") == 0))
        return true;
    in_addr v4{};
    if (IsIpv4(host, &v4))
        return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (IsIpv6(host, &v6)) {
        if (IN6_IS_ADDR_LOOPBACK(&v6))
            return true;
        return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
    }
    return false;
}

bool IsWildcard(const std::string &host) { return host == "0.0.0.0" || host == "::"; }

// The bound host as the user gave it: an IPv6 address has no brackets there.
std::string BoundHostPart(const std::string &bound) {
    return IsIpv6(bound) ? HostPart("[" + bound + "]") : HostPart(bound);
}

RequestVerdict Refuse(int status, const char *text) { return {status, text}; }

} // namespace

bool IsLoopbackHost(std::string_view host) {
    const std::string part = HostPart(host);
    return !part.empty() && LoopbackHostPart(part);
}

bool HostAllowed(std::string_view value, const HostRule &rule) {
    const std::string host = HostPart(value);
    if (host.empty())
        return false;
    if (LoopbackHostPart(host))
        return true;
    const std::string bound = BoundHostPart(rule.boundHost);
    if (bound.empty() || LoopbackHostPart(bound))
        return false; // on a loopback, a page elsewhere must not reach the server by a name
    if (host == bound)
        return true;
    for (const std::string &name : rule.names)
        if (SameName(host, HostPart(name)))
            return true;
    // An address cannot be rebound: a browser that sends one connected to it.
    return IsWildcard(bound) && (IsIpv4(host) || IsIpv6(host));
}

RequestVerdict CheckRequest(const RequestHead &head, const RequestRules &rules) {
    if (head.bytes > rules.requestBytes)
        return Refuse(400, "request too large\n");
    if (head.method != "GET" && head.method != "HEAD")
        return Refuse(405, "only GET and HEAD are served\n");
    if (head.headers.size() > rules.headerCount)
        return Refuse(431, "too many headers\n");
    const std::string *host = nullptr;
    int hosts = 0;
    for (const auto &[name, value] : head.headers) {
        if (SameName(name, "Transfer-Encoding"))
            return Refuse(400, "a GET has no body\n");
        // Every length, not only the first: any other would leave bytes behind that the next
        // request would start with.
        if (SameName(name, "Content-Length") && value != "0")
            return Refuse(400, "a GET has no body\n");
        if (SameName(name, "Host")) {
            host = &value;
            ++hosts;
        }
    }
    if (hosts > 1)
        return Refuse(400, "more than one Host\n");
    if (host && !HostAllowed(*host, rules.hosts))
        return Refuse(421, "this server does not answer for that host name\n");
    return {};
}
