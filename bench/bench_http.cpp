// Load on the logger's overview server: CLIENTS connections poll PATH as fast as they are
// answered for SECONDS, and SLOW more keep a request open that never ends. Prints requests a
// second, latency percentiles, failures, and the CPU the logger (PID) used meanwhile.
//   kalvora-bench-http PORT PID [CLIENTS=100] [SECONDS=60] [SLOW=10] [PATH=/api/chambers]
#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

// utime + stime of a process, in seconds.
double CpuSeconds(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            utime = std::stoull(field);
        if (i == 15)
            stime = std::stoull(field);
    }
    return double(utime + stime) / double(::sysconf(_SC_CLK_TCK));
}

long RssKb(int pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

int Connect(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::size_t CountBody(char *, std::size_t size, std::size_t count, void *) {
    return size * count;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s PORT PID [CLIENTS] [SECONDS] [SLOW] [PATH]\n", argv[0]);
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const int pid = std::atoi(argv[2]);
    const int clients = argc > 3 ? std::atoi(argv[3]) : 100;
    const int seconds = argc > 4 ? std::atoi(argv[4]) : 60;
    const int slowCount = argc > 5 ? std::atoi(argv[5]) : 10;
    const std::string path = argc > 6 ? argv[6] : "/api/chambers";

    curl_global_init(CURL_GLOBAL_DEFAULT);
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + path;
    std::atomic<bool> done{false};
    std::atomic<long> failed{0};
    std::mutex mutex;
    std::vector<double> latencies; // ms
    std::vector<int> slow;
    for (int i = 0; i < slowCount; ++i) {
        slow.push_back(Connect(port));
        ::send(slow.back(), "GET /api/chambers HTTP/1.1\r\nHost:", 33, MSG_NOSIGNAL);
    }
    const long rssBefore = RssKb(pid);
    const double cpuBefore = CpuSeconds(pid);
    const auto began = Clock::now();
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i)
        threads.emplace_back([&] {
            // One handle a client: libcurl keeps its connection open between requests.
            CURL *client = curl_easy_init();
            curl_easy_setopt(client, CURLOPT_URL, url.c_str());
            curl_easy_setopt(client, CURLOPT_NOSIGNAL, 1L);
            curl_easy_setopt(client, CURLOPT_PROXY, "");
            curl_easy_setopt(client, CURLOPT_TIMEOUT_MS, 20000L);
            curl_easy_setopt(client, CURLOPT_WRITEFUNCTION, CountBody);
            std::vector<double> mine;
            while (!done) {
                const auto start = Clock::now();
                long status = 0;
                if (curl_easy_perform(client) == CURLE_OK)
                    curl_easy_getinfo(client, CURLINFO_RESPONSE_CODE, &status);
                if (status != 200)
                    ++failed;
                mine.push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            }
            curl_easy_cleanup(client);
            std::lock_guard lock(mutex);
            latencies.insert(latencies.end(), mine.begin(), mine.end());
        });
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    done = true;
    for (std::thread &t : threads)
        t.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - began).count();
    const double cpu = CpuSeconds(pid) - cpuBefore;
    for (int fd : slow)
        ::close(fd);
    std::sort(latencies.begin(), latencies.end());
    const auto at = [&](double q) {
        return latencies.empty() ? 0.0 : latencies[std::size_t(q * double(latencies.size() - 1))];
    };
    std::printf("%d clients polling %s, %d slow, %.0f s\n", clients, path.c_str(), slowCount,
                elapsed);
    std::printf("requests: %zu (%.0f/s), failed: %ld\n", latencies.size(),
                double(latencies.size()) / elapsed, failed.load());
    std::printf("latency ms: p50 %.2f, p99 %.2f, max %.2f\n", at(0.5), at(0.99), at(1.0));
    std::printf("logger CPU: %.2f s = %.1f %% of one core, %.0f us a request; RSS %ld -> %ld kB\n",
                cpu, 100 * cpu / elapsed,
                latencies.empty() ? 0.0 : 1e6 * cpu / double(latencies.size()), rssBefore,
                RssKb(pid));
    return failed ? 1 : 0;
}
