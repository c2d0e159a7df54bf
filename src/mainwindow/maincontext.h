#pragma once
// What the sections of the main window's logic (connection and answers, readout, output actions) share:
// the links to the installation, the command set, the settings, the selections and what is known of the
// installation and the transducer. One object, owned by the coordinator (TMainLogic); the sections hold a
// reference to it.

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "config/configcontroller.h"
#include "config/devicesettingsconfig.h"
#include "config/globalconfig.h"
#include "mainwindow/mainconfiguration.h"
#include "mainwindow/mainview.h"
#include "presentation/configurationrow.h"
#include "presentation/errorcalculator.h"
#include "protocol/inputdata.h"
#include "protocol/kestcmdmanager.h"
#include "protocol/parameters.h"
#include "transport/deviceinterface.h"

struct TMainContext {
    TMainContext(IMainView *view, TConfigController *config);
    ~TMainContext();
    TMainContext(const TMainContext &) = delete;
    TMainContext &operator=(const TMainContext &) = delete;

    // Runs action; a failure is shown as an error message ("Ошибка") and gives false.
    bool Guard(const std::function<void()> &action);
    // Writes the next queued frame unless an answer is still awaited: writing now would purge that answer
    // and leave it to be judged against the wrong request. What stays queued goes out from the answer
    // handler, or with the next tick.
    void SendNext();

    std::optional<TConfigurationCode> Configuration() const { return selections.configuration; }
    bool Is(TConfigurationCode code) const { return selections.configuration == code; }
    bool IsQx4Type() const { return selections.configuration && ::IsQx4Type(*selections.configuration); }
    QString ConfigurationName() const
    {
        return selections.configuration ? ::ConfigurationName(*selections.configuration) : QString();
    }
    // The current toggles as the installation's commands take them: by position, left to right.
    TToggleStates CurrentToggleStates() const;
    // The state of a toggle by name ("Ia", "Ib", "Ic", " "); false when it is not shown.
    bool ToggleState(const QString &name) const;

    IMainView *view;
    TConfigController *config;
    TGlobalConfig globalConfig;
    TDeviceSettingsConfig deviceConfig;
    TCallBackObject callback;
    std::unique_ptr<TDeviceInterface> devInterface; // the installation
    std::unique_ptr<TDeviceInterface> devInterface2; // the transducer's port, lent to the settings dialog
    TKestCmdManager kestCmdManager;
    TKestConfiguration kestConfiguration; // sent with remote control

    TMainSelections selections;
    const TMainConfigurationRow *row = nullptr; // the configuration applied last
    std::unique_ptr<TErrorCalculator> errorCalculator;
    TConfigurationRow::TRsParser ParseParametersRs = &TKestCmdManager::ParseParametersRS_ConfigurationU;

    bool isDistantControlEnabled = false;
    // From the connect button until the disconnected state: the configuration settings are the
    // installation's, not to be changed behind it (only "Прочитать настройки" changes them then).
    bool configurationLocked = false;
    bool isDeviceConnected = false;
    std::optional<TDeviceInfo> devInfo;
    TTransfCoefs transfCoefs;
    double permissibleError = 0.2;
    double nominalI = 0;
    double nominalU = 0;

    // Phase toggles as the installation confirmed them (each shown "on" when the set is rebuilt).
    QStringList currentToggleNames;
    std::vector<bool> currentToggleStates;
    bool voltageToggle = true;

    QString port1Override;
    QString port2Override;
    // Cleared when the logic goes, so that a wait that keeps the event loop running can tell whether
    // there is still anything to return to.
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
};
