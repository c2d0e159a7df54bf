#pragma once
// kestctl standards / kestctl types: the laboratory's registers of reference standards and instrument
// types from the command line, over the same register the windows use.

#include "journal/labregistry.h"

#include <QString>
#include <QStringList>
#include <QTextStream>

// `args` starts after kestctl's options with the command ("standards" or "types") and its words.
// Lines for the user go to `out`, errors to `err`. Returns 0 done, 1 the register could not be read or
// written, 2 a wrong command line.
int KestctlLab(const QStringList &args, ILabRegistry &registry, QTextStream &out, QTextStream &err);

extern const char *const kKestctlLabHelp;

class TConfigController;
class TJournal;
// kestctl arshin-export / arshin-status (kestctl_arshin.cpp): 0 done, 1 not written, 2 a wrong command line.
int KestctlArshin(
    const QStringList &args, TJournal &journal, TConfigController &store, QTextStream &out, QTextStream &err);
extern const char *const kKestctlArshinHelp;
