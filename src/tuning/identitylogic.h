#pragma once
// The identity window's logic: factory number, modification, relay and interface counts of the
// transducer on the tuning window's line. It owns no link: it queues on the tuning window's transducer
// link and command set, and the answers to its reads come back through the tuning window's handler,
// which calls the two setters.

#include <QString>

#include "protocol/qx4cmdmanager.h"
#include "transport/deviceinterface.h"
#include "tuning/autotuning.h"

class IIdentityView {
public:
    virtual ~IIdentityView() = default;
    virtual void ShowFactoryNumber(const QString &text) = 0;
    virtual void ShowModification(const QString &text) = 0;
    virtual void ShowRelayCount(const QString &text) = 0;
    virtual void ShowInterfaceCount(const QString &text) = 0;
    virtual void ShowMessage(const QString &text) = 0;
};

class TIdentityLogic : public IIdentityWindow {
public:
    static constexpr int kModificationBase = 700;

    explicit TIdentityLogic(IIdentityView *view) : view_(view) { }

    // Both borrowed; the caller keeps them alive while this window is open.
    void InitDeviceInterfaceAndCmdManager(TDeviceInterface *_deviceInterface, TQx4CmdManager *_cmdManager);

    void SetExtraSettingsObject1(const TExtraSettingsObject &source) override;
    void SetExtraSettingsObject2(const TExtraSettingsObject &source) override;

    // "Прочитать".
    void ReadClicked();
    // "Записать" with the four texts as shown. Every text is checked before anything is queued: a
    // wrong one writes nothing ("Неверный формат данных").
    void WriteClicked(
        const QString &factoryNumber, const QString &modification, const QString &relays, const QString &interfaces);

    // The integer of a text as the window reads its fields; nullopt when it is none.
    static std::optional<int> ToInteger(const QString &text);

private:
    bool Send();

    IIdentityView *view_;
    TDeviceInterface *deviceInterface = nullptr;
    TQx4CmdManager *cmdManager = nullptr;
};
