#pragma once
// What the logger's HTTP server refuses before any page is served, as one pure rule on the
// request's head: its size, its method, its headers, a body it must not have, and the Host it
// was sent to. The HTTP library parses the request; this only judges what it parsed.
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct RequestHead {
    std::string method;
    std::size_t bytes = 0; // the request line and the headers as they came
    std::vector<std::pair<std::string, std::string>> headers; // in order, repeats kept
};

// Which Host a request may name. A web page elsewhere can give its own name the address of
// this machine (DNS rebinding); the browser then sends that name, which no rule here admits.
struct HostRule {
    std::string boundHost;          // the host the server listens on, without brackets
    std::vector<std::string> names; // further names the lab reaches the server by
};

struct RequestRules {
    std::size_t requestBytes = 16384;
    std::size_t headerCount = 64;
    HostRule hosts;
};

struct RequestVerdict {
    int status = 0;    // 0: serve it; otherwise answer this status and close the connection
    const char *text = ""; // the answer's body, a line
};

RequestVerdict CheckRequest(const RequestHead &head, const RequestRules &rules);

// "localhost", a name under ".localhost", 127.0.0.0/8 or ::1 (an IPv6 address in brackets),
// with or without a port.
bool IsLoopbackHost(std::string_view host);
// A Host header's value (name or address, perhaps with a port) against the rule.
bool HostAllowed(std::string_view host, const HostRule &rule);
