#pragma once
#include "core/RegionalSettings.h"

// Reads the short date format, long time format and decimal separator of the current locale
// (call after setlocale(LC_ALL, "")).
RegionalSettings ReadSystemRegionalSettings();
