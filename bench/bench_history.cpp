// Memory of the overview's history at its fullest: 32 chambers read every second for a day
// (the shortest period), measured as resident memory and as the allocator's bytes in use.
#include "core/ReadingHistory.h"

#include <cstdio>
#include <fstream>
#include <malloc.h>
#include <string>

namespace {

long RssKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

} // namespace

int main() {
    const long rssBefore = RssKb();
    const std::size_t heapBefore = mallinfo2().uordblks;
    ReadingHistory history;
    constexpr qint64 kStart = 1'796'900'400'000;
    constexpr qint64 kDay = 24 * 3'600'000LL;
    ReadingValues values;
    values.currentTemperature = 25.1;
    values.setTemperature = 80;
    values.program = 3;
    values.step = 2;
    values.cycle = 1;
    for (qint64 t = kStart; t < kStart + kDay; t += 1000)
        for (int chamber = 1; chamber <= 32; ++chamber)
            history.addReading(chamber, HistoryPointOf(t, values));
    const std::size_t heap = mallinfo2().uordblks - heapBefore;
    std::printf("32 chambers x 24 h at 1 s: %zu points kept\n", history.pointCount());
    std::printf("heap in use: %.1f MB; RSS grew %.1f MB\n", double(heap) / 1e6,
                double(RssKb() - rssBefore) / 1024);
    return 0;
}
