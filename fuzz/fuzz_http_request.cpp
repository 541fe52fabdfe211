// Any bytes as the head of a request to the logger's HTTP server, judged by the rule the server
// applies before any page: the first line is the host the server listens on, the second the
// method, every further line a header ("Name: value"). Repeated headers, ranges and Host values
// of every shape are checked against plain references.
#include "FuzzCheck.h"
#include "logger/http/RequestCheck.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>

namespace {

std::string Lower(std::string text) {
    for (char &c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool Named(const std::string &name, const char *wanted) { return Lower(name) == wanted; }

// Four decimal parts of 0..255 without leading zeros.
bool ReferenceIpv4(const std::string &text, int *first = nullptr) {
    int parts = 0;
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t dot = std::min(text.find('.', at), text.size());
        const std::string part = text.substr(at, dot - at);
        if (part.empty() || part.size() > 3 || (part.size() > 1 && part[0] == '0') ||
            !std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
            std::stoi(part) > 255)
            return false;
        if (parts == 0 && first)
            *first = std::stoi(part);
        ++parts;
        at = dot + 1;
    }
    return parts == 4;
}

// The host of a Host value that is a name or an IPv4 address, lower case, without port or final
// dot; empty for anything else (brackets, junk).
std::string ReferenceHost(const std::string &value) {
    std::string host = value.substr(0, value.find(':'));
    if (host.empty() || value.find('[') != std::string::npos)
        return {};
    if (host.find(':') == std::string::npos && value.find(':') != std::string::npos) {
        const std::string port = value.substr(value.find(':') + 1);
        if (port.empty() ||
            !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return {};
    }
    if (!std::all_of(host.begin(), host.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
        }))
        return {};
    host = Lower(host);
    if (host.size() > 1 && host.back() == '.')
        host.pop_back();
    return host;
}

bool ReferenceLoopback(const std::string &host) {
    int first = -1;
    if (ReferenceIpv4(host, &first))
        return first == 127;
    return host == "localhost" ||
           (host.size() > 10 && host.compare(host.size() - 10, 10, ".localhost") == 0);
}

QString Shown(const RequestHead &head, const std::string &bound) {
    QString text = QString::fromStdString("bound " + bound + ", " + head.method);
    for (const auto &[name, value] : head.headers)
        text += QString::fromStdString(" | " + name + ": " + value);
    return ::Shown(text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string input(reinterpret_cast<const char *>(data), size);
    std::vector<std::string> lines;
    for (std::size_t at = 0; at <= input.size();) {
        const std::size_t end = std::min(input.find('\n', at), input.size());
        std::string line = input.substr(at, end - at);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        at = end + 1;
    }
    RequestRules rules;
    rules.hosts.boundHost = lines[0];
    rules.hosts.names = {"lab-pc.example.org"};
    RequestHead head;
    head.method = lines.size() > 1 ? lines[1] : "GET";
    for (std::size_t i = 2; i < lines.size(); ++i) {
        const std::size_t colon = lines[i].find(':');
        std::string value = colon == std::string::npos ? std::string() : lines[i].substr(colon + 1);
        value.erase(0, value.find_first_not_of(' '));
        head.headers.emplace_back(lines[i].substr(0, colon), value);
    }
    head.bytes = input.size();
    const RequestVerdict verdict = CheckRequest(head, rules);
    const QString shown = Shown(head, lines[0]);
    FUZZ_CHECK(verdict.status == 0 || verdict.status == 400 || verdict.status == 405 ||
                   verdict.status == 421 || verdict.status == 431,
               shown + QStringLiteral(" gave %1").arg(verdict.status));

    // Ranges are never served: taking every Range header away changes nothing.
    RequestHead unranged = head;
    std::erase_if(unranged.headers, [](const auto &h) { return Named(h.first, "range"); });
    if (unranged.headers.size() <= rules.headerCount)
        FUZZ_CHECK(CheckRequest(unranged, rules).status == verdict.status ||
                       head.headers.size() > rules.headerCount,
                   shown);

    if (verdict.status != 0)
        return 0;
    // What is served: GET or HEAD, no body however its length is written, one Host at most.
    FUZZ_CHECK(head.method == "GET" || head.method == "HEAD", shown);
    FUZZ_CHECK(head.bytes <= rules.requestBytes && head.headers.size() <= rules.headerCount,
               shown);
    int hosts = 0;
    std::string host;
    for (const auto &[name, value] : head.headers) {
        FUZZ_CHECK(!Named(name, "transfer-encoding"), shown);
        FUZZ_CHECK(!Named(name, "content-length") || value == "0", shown);
        if (Named(name, "host")) {
            ++hosts;
            host = value;
        }
    }
    FUZZ_CHECK(hosts <= 1, shown);
    if (hosts == 0)
        return 0;
    FUZZ_CHECK(HostAllowed(host, rules.hosts), shown);
    // A name (not an address) is answered on a loopback only when it is a loopback name, and
    // elsewhere only when it is a loopback name, the bound host or a given name.
    const std::string name = ReferenceHost(host);
    int ignored = 0;
    if (!name.empty() && !ReferenceIpv4(name, &ignored)) {
        const bool given = name == "lab-pc.example.org" || name == ReferenceHost(lines[0]);
        const bool onLoopback = IsLoopbackHost(lines[0]) || lines[0] == "::1";
        FUZZ_CHECK(ReferenceLoopback(name) || (!onLoopback && given), shown);
    }
    return 0;
}
