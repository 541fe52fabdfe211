#pragma once
// The folder log files go to when no other is set (see core/LogLocation.h).
#include <QString>

// Ends in "/". Creates the folder when it is missing; a failure throws InOutError naming it.
QString DefaultLogFolder();
