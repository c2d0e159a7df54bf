#pragma once
// The settings file on disk. Every read looks at the file as it is now; every write reads the file,
// changes one line and replaces the file atomically (a temporary file in the same folder, written,
// flushed to disk, renamed over the old one), so that a crash or a full disk leaves either the old
// file or the new one, never a part of one.
//
// Reads of an absent file, section or key give the caller's default. A file that exists but cannot
// be read, and a write that cannot be completed, raise EIniFileError; the settings classes catch it
// (a failed read gives the default, a failed write is dropped and the old file stays as it was).

#include "config/inidocument.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <stdexcept>

class EIniFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A section or key name that could not be read back (TIniDocument::IsStorableName); nothing is
// written.
class EIniNameError : public EIniFileError {
public:
    using EIniFileError::EIniFileError;
};

class TIniFile {
public:
    explicit TIniFile(const QString &fileName);
    ~TIniFile();
    TIniFile(const TIniFile &) = delete;
    TIniFile &operator=(const TIniFile &) = delete;

    const QString &FileName() const { return fileName_; }

    QString ReadString(const QString &section, const QString &key, const QString &defaultValue) const;
    // Raises EIniNameError, and writes nothing, when the section or the key is not a storable name;
    // every other write below goes through here.
    void WriteString(const QString &section, const QString &key, const QString &value);

    // Decimal, or hexadecimal after "0x"; text that is not a 32-bit integer gives the default.
    int ReadInteger(const QString &section, const QString &key, int defaultValue) const;
    void WriteInteger(const QString &section, const QString &key, int value);

    // Stored "1"/"0"; read by the integer rule, non-zero is true.
    bool ReadBool(const QString &section, const QString &key, bool defaultValue) const;
    void WriteBool(const QString &section, const QString &key, bool value);

    // Reals with the decimal comma in the general format; empty or unparsable text gives the default.
    double ReadFloat(const QString &section, const QString &key, double defaultValue) const;
    void WriteFloat(const QString &section, const QString &key, double value);

    bool SectionExists(const QString &section) const;
    bool ValueExists(const QString &section, const QString &key) const;
    QStringList ReadSection(const QString &section) const;
    QStringList ReadSections() const;
    void DeleteKey(const QString &section, const QString &key);
    void EraseSection(const QString &section);

    // The whole file parsed (empty when absent), or the batch's state while one is open. Raises
    // EIniFileError when the file cannot be read.
    TIniDocument Load() const;

    // Files larger than this are not settings files; reading one is a failure.
    static constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;

    // Points of an atomic write at which tests can make it fail, as a full disk or a crash would.
    enum class TWriteStage { CreateTemp, WriteTemp, SyncTemp, Rename };
    // While set, the hook is asked at each stage; returning true makes that stage fail.
    using TWriteFaultHook = std::function<bool(TWriteStage)>;
    static void SetWriteFaultHookForTesting(TWriteFaultHook hook);

    // Writes `bytes` to `path` atomically; raises EIniFileError on failure, leaving `path` as it was
    // and no temporary file behind. Used for every settings write; other whole-file writers of the
    // program may use it too.
    static void WriteFileAtomically(const QString &path, const QByteArray &bytes);

private:
    friend class TIniBatch;
    struct TBatchState {
        TIniDocument doc;
        QString original;
        int depth;
    };

    TIniDocument LoadFile() const;
    // Applies `change` to the document and stores it; nothing is written when the text is unchanged.
    void Modify(const std::function<void(TIniDocument &)> &change);
    void BeginBatch();
    void EndBatch();

    QString fileName_;
    std::unique_ptr<TBatchState> batch_;
};

// Several writes that belong together (a dialog's "OK") stored as one atomic write when the batch
// ends: reads inside the batch see its writes, and either all of them reach the file or, when the
// final write fails, none does. Batches may nest; the outermost one writes.
class TIniBatch {
public:
    explicit TIniBatch(TIniFile &ini);
    ~TIniBatch(); // commits; a failure is dropped
    TIniBatch(const TIniBatch &) = delete;
    TIniBatch &operator=(const TIniBatch &) = delete;

    // Writes now; raises EIniFileError when the write fails (the file then stays as it was).
    void Commit();

private:
    TIniFile &ini_;
    bool open_ = false;
};
