#include "verification/run/avtopoverkacontext.h"

#include "protocol/numberformat.h"

TAvtopoverkaContext::TAvtopoverkaContext(IAvtopoverkaView *view_, TConfigController *store_, TConfigurationCode code_)
    : view(view_), store(store_), code(code_), type(VerificationType(code_)),
      avtopoverkaConfig(CreateAvtopoverkaConfig(type.settingsCode, store_)), globalConfig(store_), deviceConfig(store_)
{
    // Known from the settings from the start: the installation's readings are shown in primary units
    // with them even before a transducer has been identified.
    transfCoefs.U1 = transfCoefs.U2 = 100;
    transfCoefs.I1 = transfCoefs.I2 = 5;
    ReloadTransfCoefs();
}

bool TAvtopoverkaContext::Guard(const std::function<void()> &action)
{
    try {
        action();
        return true;
    } catch (const std::exception &e) {
        view->ShowError(QString::fromUtf8(e.what()));
    }
    return false;
}

QString TAvtopoverkaContext::CoefficientText() const
{
    return QStringLiteral("KU = ") + FloatToQStr(transfCoefs.U1) + QStringLiteral("/") + FloatToQStr(transfCoefs.U2)
        + QStringLiteral("       KI = ") + FloatToQStr(transfCoefs.I1) + QStringLiteral("/")
        + FloatToQStr(transfCoefs.I2);
}

void TAvtopoverkaContext::ReloadTransfCoefs()
{
    // A coefficient that is not a positive number would turn every reading into a division by zero.
    auto take = [](const QString &text, double &target) {
        double v = 0;
        if (TryStrToFloat(text, v) && v > 0)
            target = v;
    };
    take(deviceConfig.ReadKU1(), transfCoefs.U1);
    take(deviceConfig.ReadKU2(), transfCoefs.U2);
    take(deviceConfig.ReadKI1(), transfCoefs.I1);
    take(deviceConfig.ReadKI2(), transfCoefs.I2);
}

std::array<int, 3> TAvtopoverkaContext::AnalogParams(int tab) const
{
    if (DoesDevInfoContainAnalogOuts)
        return {analogOut.OutArray[0], analogOut.OutArray[1], analogOut.OutArray[2]};
    const std::array<int, 3> &fixed = type.fixedAnalogParams;
    if (fixed[0] || fixed[1] || fixed[2])
        return fixed;
    std::array<int, 3> params{0, 0, 0};
    const QStringList stored = avtopoverkaConfig->ReadTabOutputAnalogParamSet(tab);
    for (int k = 0; k < 3 && k < stored.size(); ++k) {
        int n = 0;
        if (TryParseStoredNumber(stored[k], n) && n >= 1 && n <= TParameters::kCount)
            params[k] = n;
    }
    return params;
}

QStringList TAvtopoverkaContext::AnalogInputs(int tab) const
{
    if (!type.fixedAnalogInputs.isEmpty())
        return type.fixedAnalogInputs;
    QStringList inputs;
    for (const QString &item : avtopoverkaConfig->ReadTabOutputAnalogPortSet(tab)) {
        int n = 0;
        if (TryParseStoredNumber(item, n) && n >= 1 && n <= 3 && !inputs.contains(QString::number(n)))
            inputs << QString::number(n);
    }
    return inputs;
}
