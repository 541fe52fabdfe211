#include "base/AddressList.h"

#include "base/OptionNumbers.h"

#include <QStringList>

#include <algorithm>

AddressListResult ParseAddressList(const QString &text) {
    AddressListResult result;
    const auto fail = [&](const QString &why) {
        result.addresses.clear();
        result.error = QStringLiteral("'%1' is not a list of bus addresses (%2)").arg(text, why);
        return result;
    };
    if (text.isEmpty())
        return fail(QStringLiteral("empty"));
    for (const QString &item : text.split(QLatin1Char(','))) {
        const qsizetype dash = item.indexOf(QLatin1Char('-'), 1);
        const QString firstText = dash < 0 ? item : item.left(dash);
        const QString lastText = dash < 0 ? item : item.mid(dash + 1);
        const auto first = ParseDecimal(firstText, 0, kHighestBusAddress);
        const auto last = ParseDecimal(lastText, 0, kHighestBusAddress);
        if (!first || !last)
            return fail(QStringLiteral("'%1': addresses are 0 to 250, ranges like 5-8").arg(item));
        if (*last < *first)
            return fail(QStringLiteral("'%1': a range runs upwards").arg(item));
        for (int a = *first; a <= *last; ++a)
            result.addresses.push_back(a);
    }
    std::sort(result.addresses.begin(), result.addresses.end());
    result.addresses.erase(std::unique(result.addresses.begin(), result.addresses.end()),
                           result.addresses.end());
    return result;
}
