#pragma once
// The main window's readout: the installation's readings after each poll, the transducer's readings and
// their errors, the analog output and its error, the identification of the transducer and the
// transformation coefficients.

#include <array>

#include "mainwindow/maincontext.h"

class TMainOutputs;

class TMainReadout {
public:
    TMainReadout(TMainContext &ctx, TMainOutputs &outputs);

    // The poll's answer; also follows a transducer appearing or vanishing and the amplifier status.
    void ShowInstallationReadout(const TFrame &answer);
    void ShowTransducerReadout(const TFrame &answer);
    void TakeIdentification(const TFrame &answer);
    // No transducer known any more: dashes, "---" and the grey address field.
    void ForgetTransducer();

    // The coefficients of the settings become those in use (and the identification's).
    void ApplyStoredCoefficients();
    // The decimals the current range gives the currents and powers.
    void SetCurrentPrecision();

    // Analog output.
    void AnalogSelectorClicked(int output);
    void AnalogParameterChosen(int output, int param);
    void EnableAnalogChanged();

    bool IsPShown() const;
    bool IsQShown() const;

private:
    void SetAnalogParam();
    void ShowAnalogSelection(int output);
    void SetCoefficientLabel();

    TMainContext &ctx_;
    TMainOutputs &outputs_;
    bool hasAmplifierDisconnectedMessagedShowed = false;
    // Readout values as the widgets store them (rounded), by parameter number.
    std::array<double, TParameters::kSlots> readoutValue_{};
    std::array<int, TParameters::kSlots> readoutDecimals_{};
};
