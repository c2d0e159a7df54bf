#include "tuning/autotuningconfig.h"

bool TAutoTuningConfig::ReadPlaySoundOnFinish() const
{
    try {
        return portConfig->ini.ReadBool(QStringLiteral("Launch"), QStringLiteral("PlaySoundOnFinish"), true);
    } catch (...) {
        return false;
    }
}

void TAutoTuningConfig::WritePlaySoundOnFinish(bool flag)
{
    WriteFlag(QStringLiteral("Launch"), QStringLiteral("PlaySoundOnFinish"), flag);
}
