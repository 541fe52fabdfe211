#pragma once
// The chambers' addresses on the bus: 0 to 250 (0 is a chamber here, not a broadcast; the
// addresses above 250 are not given to chambers).
constexpr int kHighestBusAddress = 250;
