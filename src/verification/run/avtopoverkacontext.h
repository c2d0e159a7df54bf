#pragma once
// What the parts of the verification window's logic share (the tabs, the run driver and the coordinator):
// the settings, the configuration's row, the selections, the nominal values, what is known of the
// transducer. One object, owned by the coordinator (TAvtopoverkaLogic).

#include "config/configcontroller.h"
#include "config/devicesettingsconfig.h"
#include "config/globalconfig.h"
#include "protocol/configuration.h"
#include "protocol/parameters.h"
#include "verification/avtopoverkaconfig.h"
#include "verification/run/avtopoverkaview.h"
#include "verification/run/verificationtype.h"

#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>
#include <optional>

struct TAvtopoverkaContext {
    TAvtopoverkaContext(IAvtopoverkaView *view, TConfigController *store, TConfigurationCode code);
    TAvtopoverkaContext(const TAvtopoverkaContext &) = delete;
    TAvtopoverkaContext &operator=(const TAvtopoverkaContext &) = delete;

    // Runs action; a failure is shown as an error and gives false.
    bool Guard(const std::function<void()> &action);

    // "KU = U1/U2       KI = I1/I2" of the coefficients in force.
    QString CoefficientText() const;
    // The coefficients from the settings (a text that is not a number keeps the value in force).
    void ReloadTransfCoefs();
    // The analog parameters of a tab's outputs 1–3: the transducer's own when it reported them, the
    // configuration's fixed ones, else the tab's stored set (missing or bad entries are 0).
    std::array<int, 3> AnalogParams(int tab) const;
    // The analog inputs a tab reads: the fixed ones, else the tab's stored port set (valid numbers only).
    QStringList AnalogInputs(int tab) const;
    // The installation's port and rate.
    QString Port() const { return portOverride.isEmpty() ? store->ReadPort(QStringLiteral("Port1")) : portOverride; }
    QString Rate() const { return rateOverride.isEmpty() ? store->ReadRate(QStringLiteral("Port1")) : rateOverride; }

    IAvtopoverkaView *view;
    TConfigController *store;
    const TConfigurationCode code;
    const TVerificationTypeRow &type;
    std::unique_ptr<TAvtopoverkaConfig> avtopoverkaConfig;
    TGlobalConfig globalConfig;
    TDeviceSettingsConfig deviceConfig;

    TAvtopoverkaSelections selections;
    TEntryValues entries; // as the logic last set or was told them
    double nominalI = 5;
    double nominalU = 219.39;

    TTransfCoefs transfCoefs;
    std::optional<TDeviceInfo> devInfo; // the transducer's identity, while it is known
    bool DoesDevInfoContainAnalogOuts = false;
    TAnalogOut analogOut; // the transducer's (or the scenario window's) analog assignment

    QString portOverride; // tests and the command line
    QString rateOverride;
};
