#include "base/Bus.h"
#include "base/ReadingReport.h"
#include "cli/Commands.h"

#include "core/ModbusRtu.h"

#include <cstdio>

int RunRead(const QStringList &arguments) {
    CommandLine line(QStringLiteral("read"), QStringLiteral("ADDR"),
                     QStringLiteral("Reads the 15 input registers of the chamber at bus address "
                                    "ADDR once and prints\nits figures, decoded with the "
                                    "window's bounds and formats. Exits 4 when no valid\nreply "
                                    "came or the chamber answered with an exception."),
                     {3, 800});
    line.addFlag(QStringLiteral("json"),
                 QStringLiteral("Print one JSON object (numbers with a dot, times as \"hh:mm\", "
                                "null for a value that fails its bound)."));
    if (const auto done = line.parse(arguments))
        return *done;
    line.expectPositional(1, QStringLiteral("ADDR"));
    const int address = BusAddressArgument(line.positional().at(0));

    Bus bus(line.common());
    const auto request = BuildReadRequest(static_cast<std::uint8_t>(address), 4, 15);
    const ExchangeResult result = bus.exchange(request);
    if (result.outcome == ExchangeResult::Outcome::WriteFailed ||
        result.outcome == ExchangeResult::Outcome::PortLost)
        throw CliError{kExitPort, bus.outcomeText(result)};
    if (result.outcome != ExchangeResult::Outcome::Ok)
        throw CliError{kExitNoAnswer,
                       QStringLiteral("chamber %1: %2").arg(address).arg(OutcomeText(result))};
    const ReadingValues values = DecodeReadingValues(result.reply.data());
    const QString text = line.isSet(QStringLiteral("json"))
                             ? ReadingJson(address, values) + QLatin1Char('\n')
                             : ReadingText(values);
    std::fputs(text.toUtf8().constData(), stdout);
    return kExitOk;
}
