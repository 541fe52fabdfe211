#pragma once
// The per-user runtime folder that Qt's graphical start-up looks into. Without XDG_RUNTIME_DIR
// (cron, a system service, su) Qt falls back to <temp>/runtime-<user> and says so on stderr at
// every start; a tool must print nothing but its own output.

// Call before the QGuiApplication is made. When XDG_RUNTIME_DIR is unset, makes the fallback
// folder as Qt would (mode 0700) and points the variable at it. A folder that is not ours or
// not private is left to Qt, which then names the fault.
void UseRuntimeFolderWhenUnset();
