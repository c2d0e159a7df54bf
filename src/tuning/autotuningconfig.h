#pragma once
// The tuning window's own setting: whether a tone sounds when a tuning is over.

#include "config/typedsettings.h"

class TAutoTuningConfig : public TTypedSettings {
public:
    explicit TAutoTuningConfig(TConfigController *config) : TTypedSettings(config) { }

    // "PlaySoundOnFinish" of "Launch"; true when absent, false when the file cannot be read.
    bool ReadPlaySoundOnFinish() const;
    void WritePlaySoundOnFinish(bool flag);
};
