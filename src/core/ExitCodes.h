#pragma once
// The exit status of the tools (kalvora-cli, kalvora-plot): one numbering, so that scripts and
// service managers read them alike.
enum ExitCode {
    kExitOk = 0,
    kExitUsage = 2,     // a wrong command line or option file
    kExitPort = 3,      // the port cannot be opened or is in use
    kExitNoAnswer = 4,  // no (valid) answer, or an exception reply
    kExitRejected = 5,  // input rejected before anything was sent
    kExitFile = 6,      // a file that cannot be read or written
    kExitDelivery = 7,  // alarm-test: a channel did not deliver
    kExitBrokenTrail = 8, // audit verify: a line of the trail was changed, removed or moved
};
