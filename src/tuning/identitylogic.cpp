#include "tuning/identitylogic.h"

void TIdentityLogic::InitDeviceInterfaceAndCmdManager(TDeviceInterface *_deviceInterface, TQx4CmdManager *_cmdManager)
{
    deviceInterface = _deviceInterface;
    cmdManager = _cmdManager;
}

void TIdentityLogic::SetExtraSettingsObject1(const TExtraSettingsObject &source)
{
    view_->ShowFactoryNumber(QString::number(source.FactoryNumber));
    view_->ShowModification(QString::number(source.ModificationNumber));
}

void TIdentityLogic::SetExtraSettingsObject2(const TExtraSettingsObject &source)
{
    view_->ShowRelayCount(QString::number(source.RelayCount));
    view_->ShowInterfaceCount(QString::number(source.InterfaceCount));
}

std::optional<int> TIdentityLogic::ToInteger(const QString &text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

bool TIdentityLogic::Send()
{
    if (!deviceInterface || !cmdManager || !deviceInterface->IsOpen()) {
        view_->ShowMessage(QStringLiteral("Нет связи с устройством"));
        return false;
    }
    try {
        deviceInterface->SendNextCmd();
        return true;
    } catch (...) {
        view_->ShowMessage(QStringLiteral("Нет связи с устройством"));
        return false;
    }
}

void TIdentityLogic::ReadClicked()
{
    if (!deviceInterface || !cmdManager) {
        view_->ShowMessage(QStringLiteral("Нет связи с устройством"));
        return;
    }
    deviceInterface->AddCmd(cmdManager->CreateCmdReadExtraSettings1());
    deviceInterface->AddCmd(cmdManager->CreateCmdReadExtraSettings2());
    Send();
}

void TIdentityLogic::WriteClicked(
    const QString &factoryNumber, const QString &modification, const QString &relays, const QString &interfaces)
{
    // Characters 3 to 7 are the serial, 1 and 2 the year of manufacture.
    const std::optional<int> serial = ToInteger(factoryNumber.mid(2, 5));
    const std::optional<int> year = ToInteger(factoryNumber.left(2));
    const std::optional<int> mod = ToInteger(modification);
    const std::optional<int> relayCount = ToInteger(relays);
    const std::optional<int> interfaceCount = ToInteger(interfaces);
    if (!serial || !year || !mod || !relayCount || !interfaceCount) {
        view_->ShowMessage(QStringLiteral("Неверный формат данных"));
        return;
    }
    if (!deviceInterface || !cmdManager) {
        view_->ShowMessage(QStringLiteral("Нет связи с устройством"));
        return;
    }
    deviceInterface->AddCmd(cmdManager->CreateCmdWriteFactoryNumber(*serial, *year));
    deviceInterface->AddCmd(cmdManager->CreateCmdWriteModificationNumber(*mod + kModificationBase));
    deviceInterface->AddCmd(cmdManager->CreateCmdWriteRelayCount(*relayCount));
    deviceInterface->AddCmd(cmdManager->CreateCmdWriteInterfaceCount(*interfaceCount));
    if (!Send())
        deviceInterface->CleaerQueue();
}
