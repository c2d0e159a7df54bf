#pragma once
// The settings dialog "Настройки": the two serial ports with their rates, the nominal values of the
// installation's ranges, the permissible errors, three measurement options and the measuring time
// of a verification point. The main window opens it without waiting (show(), not exec()); each
// opening builds a new dialog.

#include "config/globalconfig.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QSpinBox;
class TComInterface;

class TSettingsForm : public QDialog {
    Q_OBJECT
public:
    explicit TSettingsForm(QWidget *parent = nullptr);
    ~TSettingsForm() override;

    // The only way to initialise the dialog: `_port1` is the installation's transport, `_port2` the
    // transducer's, `ini` the settings store (none owned; all outlive the dialog). Fills the port
    // lists (skipped without a first transport), then the value fields.
    void SetDeviceInterfaceAndConfigController(TComInterface *_port1, TComInterface *_port2, TConfigController *ini);

    // The eight rates offered for the transducer's port.
    static const QStringList &Port2Rates();

    // How a failure on "OK" reaches the user; by default a message box captioned "Ошибка".
    void SetErrorHandler(std::function<void(const QString &)> handler) { errorHandler_ = std::move(handler); }

    // Confirmation: closes the ports, writes every value as typed, hands the ports and rates to the
    // two transports and closes the dialog, whatever failed on the way.
    void ConfirmSettings();

    TComInterface *devInterface1 = nullptr;
    TComInterface *devInterface2 = nullptr;

    // Controls, also found by object name.
    QComboBox *cbKestPort = nullptr;
    QComboBox *cbKestRate = nullptr;
    QComboBox *cbDevicePort = nullptr;
    QComboBox *cbDeviceRate = nullptr;
    QLineEdit *edI0_5 = nullptr;
    QLineEdit *edI2_5 = nullptr;
    QLineEdit *edI1 = nullptr;
    QLineEdit *edI5 = nullptr;
    QLineEdit *edU100_3 = nullptr;
    QLineEdit *edU380_3 = nullptr;
    QLineEdit *edU400_3 = nullptr;
    QLineEdit *edU100_4 = nullptr;
    QLineEdit *edU380_4 = nullptr;
    QLineEdit *edU400_4 = nullptr;
    QLineEdit *edError = nullptr;
    QLineEdit *edFreqError = nullptr;
    QLineEdit *edAnalogError = nullptr;
    QLineEdit *edAruError = nullptr;
    QCheckBox *chkOptionIb = nullptr;
    QCheckBox *chkUseTransfCoefs = nullptr;
    QCheckBox *chkAnalogAsMiliAmpers = nullptr;
    QSpinBox *seWaitingTime = nullptr;
    QPushButton *btnOK = nullptr;
    QPushButton *btnCancel = nullptr;

private:
    void FillPortLists();
    void FillValues();
    void ReportError(const QString &text);

    TConfigController *config_ = nullptr;
    std::unique_ptr<TGlobalConfig> appConfig;
    std::function<void(const QString &)> errorHandler_;
};
