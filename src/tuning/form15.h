#pragma once
// The identity window ("Form15"): factory number, modification, relay and interface counts of the
// transducer on the tuning window's line, read and written through that window's link.

#include <QDialog>

#include "tuning/identitylogic.h"

class QComboBox;
class QLineEdit;
class QPushButton;

class TForm15 : public QDialog, public IIdentityView {
    Q_OBJECT
public:
    explicit TForm15(QWidget *parent = nullptr);

    void InitDeviceInterfaceAndCmdManager(TDeviceInterface *_deviceInterface, TQx4CmdManager *_cmdManager);
    TIdentityLogic &Logic() { return logic_; }

    void ShowFactoryNumber(const QString &text) override;
    void ShowModification(const QString &text) override;
    void ShowRelayCount(const QString &text) override;
    void ShowInterfaceCount(const QString &text) override;
    void ShowMessage(const QString &text) override;

    QLineEdit *FactoryNumber() const { return factoryNumber_; }
    QComboBox *Modification() const { return modification_; }
    QComboBox *Relays() const { return relays_; }
    QComboBox *Interfaces() const { return interfaces_; }
    QPushButton *WriteButton() const { return write_; }
    QPushButton *ReadButton() const { return read_; }

private:
    TIdentityLogic logic_;
    QLineEdit *factoryNumber_;
    QComboBox *modification_;
    QComboBox *relays_;
    QComboBox *interfaces_;
    QPushButton *write_;
    QPushButton *read_;
};
