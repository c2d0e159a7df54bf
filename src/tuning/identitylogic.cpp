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
    if (!deviceInterface || !cmdManager) {
        view_->ShowMessage(QStringLiteral("Нет связи с устройством"));
        return;
    }
    // Each value is queued as soon as it reads as a number; the first that does not is reported and ends
    // the queueing, and what was queued before it is written all the same: the user sees which field was
    // wrong, and the fields before it went out as shown.
    auto badFormat = [this]() -> bool {
        view_->ShowMessage(QStringLiteral("Неверный формат данных"));
        return false;
    };
    [&] {
        // Characters 3 to 7 are the serial, 1 and 2 the year of manufacture.
        const std::optional<int> serial = ToInteger(factoryNumber.mid(2, 5));
        const std::optional<int> year = ToInteger(factoryNumber.left(2));
        if (!serial || !year)
            return badFormat();
        deviceInterface->AddCmd(cmdManager->CreateCmdWriteFactoryNumber(*serial, *year));
        const std::optional<int> mod = ToInteger(modification);
        if (!mod)
            return badFormat();
        deviceInterface->AddCmd(cmdManager->CreateCmdWriteModificationNumber(*mod + kModificationBase));
        const std::optional<int> relayCount = ToInteger(relays);
        if (!relayCount)
            return badFormat();
        deviceInterface->AddCmd(cmdManager->CreateCmdWriteRelayCount(*relayCount));
        const std::optional<int> interfaceCount = ToInteger(interfaces);
        if (!interfaceCount)
            return badFormat();
        deviceInterface->AddCmd(cmdManager->CreateCmdWriteInterfaceCount(*interfaceCount));
        return true;
    }();
    if (deviceInterface->IsQueueEmpty())
        return;
    if (!Send())
        deviceInterface->CleaerQueue();
}
