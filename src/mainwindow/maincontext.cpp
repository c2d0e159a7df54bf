#include "mainwindow/maincontext.h"

TMainContext::TMainContext(IMainView *view, TConfigController *config)
    : view(view), config(config), globalConfig(config), deviceConfig(config)
{
    devInterface = std::make_unique<TDeviceInterface>(nullptr, &callback);
    devInterface2 = std::make_unique<TDeviceInterface>(nullptr, &callback);
}

TMainContext::~TMainContext()
{
    *alive = false;
    if (devInterface)
        devInterface->Dispose();
    if (devInterface2)
        devInterface2->Dispose();
}

bool TMainContext::Guard(const std::function<void()> &action)
{
    try {
        action();
        return true;
    } catch (const std::exception &e) {
        view->ShowError(QString::fromUtf8(e.what()));
        return false;
    }
}

void TMainContext::SendNext()
{
    if (devInterface->IsWaiting())
        return;
    devInterface->SendNextCmd();
}

TToggleStates TMainContext::CurrentToggleStates() const
{
    auto at = [this](size_t i) { return i < currentToggleStates.size() && currentToggleStates[i]; };
    return TToggleStates(at(0), at(1), at(2));
}

bool TMainContext::ToggleState(const QString &name) const
{
    if (name == QStringLiteral(" "))
        return voltageToggle;
    const qsizetype i = currentToggleNames.indexOf(name);
    return i >= 0 && static_cast<size_t>(i) < currentToggleStates.size() && currentToggleStates[i];
}
