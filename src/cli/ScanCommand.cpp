#include "base/Bus.h"
#include "cli/Commands.h"

#include "core/BusAddress.h"
#include "core/ModbusRtu.h"

#include <cstdio>
#include <unistd.h>

int RunScan(const QStringList &arguments) {
    CommandLine line(
        QStringLiteral("scan"), QString(),
        QStringLiteral(
            "Probes the bus addresses --from to --to with the window's probe (a read of 3 input\n"
            "registers) and prints each address that answers, one per line. An address counts\n"
            "as found only when a complete reply of that address with function 4 and a right\n"
            "CRC arrives (an echo of the probe is skipped): stricter than the window, which\n"
            "takes any address-then-4 pair."),
        {5, 160});
    line.addValueOption(QStringLiteral("from"), QStringLiteral("A"),
                        QStringLiteral("First address to probe (default: 0)."));
    line.addValueOption(
        QStringLiteral("to"), QStringLiteral("B"),
        QStringLiteral("Last address to probe (default: %1).").arg(kHighestBusAddress));
    if (const auto done = line.parse(arguments))
        return *done;
    line.expectPositional(0, QStringLiteral("no arguments"));
    const int from = line.intValue(QStringLiteral("from"), 0, 0, kHighestBusAddress);
    const int to = line.intValue(QStringLiteral("to"), kHighestBusAddress, 0, kHighestBusAddress);
    if (to < from)
        throw CliError{kExitUsage, QStringLiteral("--to %1 is below --from %2").arg(to).arg(from)};

    Bus bus(line.common());
    const bool showProgress = ::isatty(STDERR_FILENO) == 1;
    for (int address = from; address <= to; ++address) {
        if (showProgress) {
            std::fprintf(stderr, "\rscanning %d (%d of %d)   ", address, address - from + 1,
                         to - from + 1);
            std::fflush(stderr);
        }
        const auto probe = BuildReadRequest(static_cast<std::uint8_t>(address), 4, 3);
        const ExchangeResult result = bus.exchange(probe);
        if (result.outcome == ExchangeResult::Outcome::WriteFailed ||
            result.outcome == ExchangeResult::Outcome::PortLost)
            throw CliError{kExitPort, bus.outcomeText(result)};
        if (result.outcome == ExchangeResult::Outcome::Ok) {
            if (showProgress)
                std::fprintf(stderr, "\r%40s\r", "");
            std::printf("%d\n", address);
            std::fflush(stdout);
        }
    }
    if (showProgress)
        std::fprintf(stderr, "\r%40s\r", "");
    return kExitOk;
}
