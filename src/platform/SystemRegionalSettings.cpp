#include "platform/SystemRegionalSettings.h"

#include <langinfo.h>

RegionalSettings ReadSystemRegionalSettings() {
    RegionalSettings settings;
    settings.shortDateFormat = QString::fromLocal8Bit(nl_langinfo(D_FMT));
    settings.longTimeFormat = QString::fromLocal8Bit(nl_langinfo(T_FMT));
    const QString radix = QString::fromLocal8Bit(nl_langinfo(RADIXCHAR));
    settings.decimalSeparator = radix.isEmpty() ? QLatin1Char('.') : radix.front();
    return settings;
}
