#pragma once
// The numbers of the command lines: decimal digits, bus addresses.
#include "core/BusAddress.h"
#include "core/IntegerText.h"
