#pragma once
// The upload to the Federal information fund over the results journal: the chosen runs read from it, the
// file written and checked, and each run in the file marked as sent beside its record (an amendment
// "arshin/exported": the file and the day), so that the archive shows it and does not offer it again.
// kestctl arshin-export and the archive window go through it.

#include "lab/arshinexport.h"

#include <QString>
#include <QStringList>

#include <vector>

class TConfigController;
class TJournal;

struct TArshinExportResult {
    bool written = false;
    QString error; // why nothing was written
    int count = 0; // runs in the file
    std::vector<TArshinSkipped> skipped; // left out, with what each lacks
    QStringList notMarked; // runs written whose "sent" mark the journal refused, with why
    // One text for the user: what was written, what was left out and why.
    QString Text(const QString &path) const;
};

// `options.schemaPath` empty: the settings' schema ([Arshin] Schema=), else the shipped one. `who` is
// recorded as the one who exported.
TArshinExportResult ExportRunsToArshin(TJournal &journal, TConfigController *settings,
    const std::vector<TJournalRun> &runs, const QString &path, TArshinOptions options, const QString &who);
