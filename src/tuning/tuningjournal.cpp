#include "tuning/tuningjournal.h"

#include <cmath>

#include "config/globalconfig.h"
#include "presentation/errorcalculator.h"
#include "protocol/numberformat.h"

namespace {

// The report header's verifier: the same person signs for the tuning.
const QString kReportSection = QStringLiteral("Report");
const QString kVerifierKey = QStringLiteral("Verifier");

// The quantities the coefficient stage compares.
constexpr int kJudged[] = {piUa, piUb, piUc, piIa, piIb, piIc, piULa, piULb, piULc, piFreq};

QString Ratio(double a, double b)
{
    return FloatToQStr(a) + QLatin1Char('/') + FloatToQStr(b);
}

QString YesNo(bool value)
{
    return value ? QStringLiteral("да") : QStringLiteral("нет");
}

} // namespace

const QString TTuningJournalRecorder::kVoltageKey = QStringLiteral("Напряжение");
const QString TTuningJournalRecorder::kCurrentKey = QStringLiteral("Ток");
const QString TTuningJournalRecorder::kSchemeKey = QStringLiteral("Схема");
const QString TTuningJournalRecorder::kNetAdrKey = QStringLiteral("Сетевой адрес");
const QString TTuningJournalRecorder::kNewAdrKey = QStringLiteral("Новый адрес");
const QString TTuningJournalRecorder::kRs1Key = QStringLiteral("Скорость RS 1");
const QString TTuningJournalRecorder::kRs2Key = QStringLiteral("Скорость RS 2");
const QString TTuningJournalRecorder::kRs2ConfigKey = QStringLiteral("Конф-ция RS 2");
const QString TTuningJournalRecorder::kAnalogKey = QStringLiteral("Настроить аналоговые выходы");
const QString TTuningJournalRecorder::kAnalogTypeKey = QStringLiteral("Выходной сигнал, мА");
const QString TTuningJournalRecorder::kOutputKey = QStringLiteral("Вых/Инд ");
const QString TTuningJournalRecorder::kPermissibleKey = QStringLiteral("Допустимая погрешность, %");
const QString TTuningJournalRecorder::kFactoryNumberKey = QStringLiteral("Заводской номер");
const QString TTuningJournalRecorder::kModificationKey = QStringLiteral("Модификация");
const QString TTuningJournalRecorder::kKUKey = QStringLiteral("KU");
const QString TTuningJournalRecorder::kKIKey = QStringLiteral("KI");

TTuningJournalRecorder::TTuningJournalRecorder(TJournal *journal, TAutoTuning *tuning)
    : journal_(journal), tuning_(tuning)
{
    if (tuning) {
        tuning->AddObserver(this);
        tuning->SetIdentityWindow(this);
    }
}

TTuningJournalRecorder::~TTuningJournalRecorder()
{
    if (tuning_) {
        tuning_->RemoveObserver(this);
        tuning_->SetIdentityWindow(identityWindow_);
    }
}

void TTuningJournalRecorder::SetJournal(TJournal *journal)
{
    if (journal == journal_)
        return;
    journal_ = journal;
    run_.clear();
}

std::vector<TJournalError> TTuningJournalRecorder::Errors(const TParameters &transducer,
    const TParameters &installation, const TTransfCoefs &coefs, std::optional<double> permissible)
{
    TDeviceInfo info;
    info.transfCoefs = coefs;
    const TErrorCalculatorQX4 calculator;
    std::vector<TJournalError> out;
    for (const int k : kJudged) {
        const TParameter *t = transducer.GetParameterByIndex(k);
        const TParameter *i = installation.GetParameterByIndex(k);
        if (!t || !i || !t->isDataCorrect || !i->isDataCorrect)
            continue;
        // A zero coefficient (unreadable settings) gives a zero full scale: no error rather than an
        // infinite one.
        const double error = calculator.CalculateError(k, info, TKestConfiguration(), i->value, t->value);
        if (!std::isfinite(error))
            continue;
        out.push_back({k, error, permissible && std::fabs(error) > *permissible});
    }
    return out;
}

TJournalTuningHeader TTuningJournalRecorder::Header(const TTuningChoices &c, const TTransfCoefs &coefs) const
{
    TJournalTuningHeader h;
    h.configuration = QStringLiteral("QX4");
    h.device.type = QStringLiteral("QX4");
    h.device.coefficients = coefs;
    const QStringList speeds = TAutoTuning::SpeedCaptions();
    const QStringList parameters = TAutoTuning::ParameterCaptions();
    TJournalKeyValues &s = h.settings;
    s.append({kVoltageKey, TAutoTuning::kVoltageCaptions.value(c.voltageIndex)});
    s.append({kCurrentKey, TAutoTuning::kCurrentCaptions.value(c.currentIndex)});
    s.append({kSchemeKey, TAutoTuning::kSchemeCaptions.value(c.schemeIndex)});
    s.append({kNetAdrKey, QString::number(c.netAdr)});
    s.append({kNewAdrKey, QString::number(c.newAdr)});
    s.append({kRs1Key, speeds.value(c.rs1Index)});
    if (c.rs2Enabled) {
        s.append({kRs2Key, speeds.value(c.rs2Index)});
        s.append({kRs2ConfigKey, TAutoTuning::kRs2ConfigCaptions.value(c.rs2ConfigIndex)});
    }
    s.append({kAnalogKey, YesNo(c.analogEnabled)});
    if (c.analogEnabled)
        s.append({kAnalogTypeKey, TAutoTuning::kAnalogTypeCaptions.value(c.analogTypeIndex)});
    for (size_t k = 0; k < c.outputs.size(); ++k)
        s.append({kOutputKey + QString::number(k + 1), parameters.value(c.outputs[k])});
    if (TConfigController *config = tuning_ ? tuning_->Config() : nullptr) {
        s.append({kPermissibleKey, TGlobalConfig(config).ReadError()});
        try {
            h.verifier = config->ini.ReadString(kReportSection, kVerifierKey, QString()).trimmed();
        } catch (...) {
            // An unreadable settings file leaves the run without a verifier, not without a record.
        }
    }
    return h;
}

TJournalReadback TTuningJournalRecorder::Readback(const TParameters &transducer, const TParameters &installation) const
{
    TJournalReadback r;
    r.device = TJournalValues::From(transducer);
    r.installation = TJournalValues::From(installation);
    r.errors = Errors(transducer, installation, coefs_, permissible_);
    r.details.append({kKUKey, Ratio(coefs_.U1, coefs_.U2)});
    r.details.append({kKIKey, Ratio(coefs_.I1, coefs_.I2)});
    if (identity_) {
        r.details.append({kFactoryNumberKey, QString::number(identity_->FactoryNumber)});
        r.details.append({kModificationKey, QString::number(identity_->ModificationNumber)});
    }
    return r;
}

void TTuningJournalRecorder::TuningStarted(const TTuningChoices &choices, const TTransfCoefs &coefs)
{
    run_.clear();
    identity_.reset();
    coefs_ = coefs;
    permissible_.reset();
    if (!journal_)
        return;
    const TJournalTuningHeader header = Header(choices, coefs);
    double permissible = 0;
    if (TryStrToFloat(JournalValueOf(header.settings, kPermissibleKey), permissible))
        permissible_ = permissible;
    run_ = lastRun_ = journal_->BeginTuning(header);
}

void TTuningJournalRecorder::TuningLog(const QString &line)
{
    if (Open())
        journal_->AddTuningLine(run_, line);
}

void TTuningJournalRecorder::TuningAsFound(const TParameters &transducer, const TParameters &installation)
{
    if (Open())
        journal_->SetAsFound(run_, Readback(transducer, installation));
}

void TTuningJournalRecorder::TuningAsLeft(const TParameters &transducer, const TParameters &installation)
{
    if (Open())
        journal_->SetAsLeft(run_, Readback(transducer, installation));
}

void TTuningJournalRecorder::TuningEnded(const TTuningOutcome &outcome)
{
    if (!Open())
        return;
    TJournalRunEnd end;
    switch (outcome.end) {
    case TTuningEnd::Done:
        end.outcome = TJournalOutcome::Finished;
        break;
    case TTuningEnd::Stopped:
        end.outcome = TJournalOutcome::Stopped;
        break;
    case TTuningEnd::Failed:
        end.outcome = TJournalOutcome::Failed;
        end.error = outcome.reason;
        break;
    }
    journal_->EndTuning(run_, end);
    run_.clear();
    identity_.reset();
}

void TTuningJournalRecorder::SetExtraSettingsObject1(const TExtraSettingsObject &source)
{
    if (!run_.isEmpty() && (source.FactoryNumber != 0 || source.ModificationNumber != 0))
        identity_ = source;
    if (identityWindow_)
        identityWindow_->SetExtraSettingsObject1(source);
}

void TTuningJournalRecorder::SetExtraSettingsObject2(const TExtraSettingsObject &source)
{
    if (identityWindow_)
        identityWindow_->SetExtraSettingsObject2(source);
}
