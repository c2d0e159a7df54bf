#pragma once
// SIGINT and SIGTERM for the long commands (verify, tune): taken from the process's first moment, so that
// a signal that comes before a run has started never kills the process with the installation's port
// half set up, and one that comes during a run stops it as "Стоп" does (the outputs go off first). The
// handler only writes to a socket that the event loop watches.

#include <functional>

namespace KestctlSignals {

// Installs the handlers; once, first thing in main() (before the application object).
void Install();
// A signal has come (since Install).
bool Received();
// Called on the event loop for every signal from now on; an empty one removes it. Needs the application.
void OnSignal(std::function<void()> handler);

// For the short commands (and "monitor", which runs until interrupted): signals act as they normally
// do again; one that came meanwhile ends the process now.
void Release();

} // namespace KestctlSignals
