#pragma once
// Puts every tuning run into the results journal: a header with what was chosen when "Настроить" was
// pressed, every log line as it comes, the first and the last readback of the transducer against the
// installation, and how the run ended. The window and kestctl's "tune" attach one each, so that a run
// is journalled the same way wherever it was started.
//
// The recorder watches the tuning as an observer and sits between the tuning and its identity window:
// the factory number and modification the run reads from the transducer go on to the identity window
// and are kept with the readbacks of that run (the header is written before they are read). Reads
// between runs are passed on only: a transducer changed between runs must not lend its number to the
// next one.
//
// Writing never stops a run: what the journal cannot write it keeps, and it tells the user itself
// through its message handler. With no journal nothing is written.

#include <QPointer>
#include <QString>

#include <optional>

#include "journal/journal.h"
#include "tuning/autotuning.h"

class TTuningJournalRecorder : public ITuningObserver, public IIdentityWindow {
public:
    // Header keys, as the window captions its choices. The RS 2 entries are there only when RS 2 is
    // written, the analog signal only when the analog outputs are tuned.
    static const QString kVoltageKey; // "Напряжение"
    static const QString kCurrentKey; // "Ток"
    static const QString kSchemeKey; // "Схема"
    static const QString kNetAdrKey; // "Сетевой адрес"
    static const QString kNewAdrKey; // "Новый адрес"
    static const QString kRs1Key; // "Скорость RS 1"
    static const QString kRs2Key; // "Скорость RS 2"
    static const QString kRs2ConfigKey; // "Конф-ция RS 2"
    static const QString kAnalogKey; // "Настроить аналоговые выходы": "да" / "нет"
    static const QString kAnalogTypeKey; // "Выходной сигнал, мА"
    static const QString kOutputKey; // "Вых/Инд " + 1..3
    static const QString kPermissibleKey; // "Допустимая погрешность, %", as the settings hold it
    // Readback details.
    static const QString kFactoryNumberKey; // "Заводской номер"
    static const QString kModificationKey; // "Модификация"
    static const QString kKUKey; // "KU": "U1/U2"
    static const QString kKIKey; // "KI": "I1/I2"

    // Neither is owned. The journal must outlive the recorder (or be taken away with SetJournal
    // first); `tuning` may go first. The recorder registers itself with `tuning` as observer and as
    // its identity window; give the real identity window to SetIdentityWindow instead.
    TTuningJournalRecorder(TJournal *journal, TAutoTuning *tuning);
    ~TTuningJournalRecorder() override;
    TTuningJournalRecorder(const TTuningJournalRecorder &) = delete;
    TTuningJournalRecorder &operator=(const TTuningJournalRecorder &) = delete;

    // Takes effect at once: a run under way is left in the journal it began in as it stands (the
    // journal shows it unfinished), the next run goes to `journal`. Null: nothing is journalled.
    void SetJournal(TJournal *journal);
    TJournal *Journal() const { return journal_; }
    void SetIdentityWindow(IIdentityWindow *window) { identityWindow_ = window; }

    // The run journalled last (open or ended); empty before the first.
    const TJournalRunId &LastRun() const { return lastRun_; }

    // The errors the tuning judges its coefficients by (the phase and line voltages, the currents, the
    // frequency), reduced to the full scales of `coefs`; a quantity that either side did not give, or
    // whose full scale is zero, has none. Over its limit when beyond `permissible` (percent; none
    // when not given).
    static std::vector<TJournalError> Errors(const TParameters &transducer, const TParameters &installation,
        const TTransfCoefs &coefs, std::optional<double> permissible);

    // ITuningObserver
    void TuningStarted(const TTuningChoices &choices, const TTransfCoefs &coefs) override;
    void TuningLog(const QString &line) override;
    void TuningAsFound(const TParameters &transducer, const TParameters &installation) override;
    void TuningAsLeft(const TParameters &transducer, const TParameters &installation) override;
    void TuningEnded(const TTuningOutcome &outcome) override;

    // IIdentityWindow
    void SetExtraSettingsObject1(const TExtraSettingsObject &source) override;
    void SetExtraSettingsObject2(const TExtraSettingsObject &source) override;

private:
    TJournalTuningHeader Header(const TTuningChoices &choices, const TTransfCoefs &coefs) const;
    TJournalReadback Readback(const TParameters &transducer, const TParameters &installation) const;
    bool Open() const { return journal_ && !run_.isEmpty(); }

    TJournal *journal_;
    QPointer<TAutoTuning> tuning_;
    IIdentityWindow *identityWindow_ = nullptr;
    // The run being journalled, and what it started with.
    TJournalRunId run_;
    TJournalRunId lastRun_;
    TTransfCoefs coefs_;
    std::optional<double> permissible_;
    std::optional<TExtraSettingsObject> identity_; // read in this run
};
