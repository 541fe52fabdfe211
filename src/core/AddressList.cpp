#include "AddressList.h"

#include "BusAddress.h"
#include "IntegerText.h"

#include <QStringList>

#include <algorithm>

AddressListResult ParseAddressList(const QString &text, AddressOrder order) {
    AddressListResult result;
    const auto fail = [&](const QString &why) {
        result.addresses.clear();
        result.error = QStringLiteral("'%1' is not a list of bus addresses (%2)").arg(text, why);
        return result;
    };
    if (text.isEmpty())
        return fail(QStringLiteral("empty"));
    std::vector<bool> named(kHighestBusAddress + 1, false);
    for (const QString &item : text.split(QLatin1Char(','))) {
        const qsizetype dash = item.indexOf(QLatin1Char('-'), 1);
        const QStringView firstText = dash < 0 ? QStringView(item) : QStringView(item).left(dash);
        const QStringView lastText = dash < 0 ? QStringView(item) : QStringView(item).mid(dash + 1);
        const auto first = ParseDecimal(firstText, 0, kHighestBusAddress);
        const auto last = ParseDecimal(lastText, 0, kHighestBusAddress);
        if (!first || !last)
            return fail(QStringLiteral("'%1': addresses are 0 to %2, ranges like 5-8")
                            .arg(item)
                            .arg(kHighestBusAddress));
        if (*last < *first)
            return fail(QStringLiteral("'%1': a range runs upwards").arg(item));
        for (int a = *first; a <= *last; ++a)
            if (!named[a]) {
                named[a] = true;
                result.addresses.push_back(a);
            }
    }
    if (order == AddressOrder::Ascending)
        std::sort(result.addresses.begin(), result.addresses.end());
    return result;
}
