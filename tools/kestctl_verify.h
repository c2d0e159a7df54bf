#pragma once
// kestctl verify: a verification run without a window, over the verification window's own logic and
// run driver. `argv` is kestctl's whole command line; returns the exit code (0 the run completed,
// 1 a failed link, port, interrupted run or report, 2 a wrong command line).

#include <QStringList>

int KestctlVerify(const QStringList &argv);

// The lines of `kestctl --help` for the command.
extern const char *const kKestctlVerifyHelp;
