#pragma once
// Errors of the transducer under test, in percent: its RS-485 reading against the installation's
// reference reading (reduced error of the digital output), and the current its analog output
// delivers against the current it should deliver for the reference reading (reduced error of the
// analog output). One variant per kind of transducer.

#include "protocol/parameters.h"

#include <QString>
#include <QStringList>

#include <memory>

class TErrorCalculator {
public:
    virtual ~TErrorCalculator() = default;

    // `value` is the installation's reading of parameter `paramNum` (secondary units), `valueRs` the
    // transducer's reading of it. Errors beyond ±100 % are rounded to whole numbers.
    virtual double CalculateError(int paramNum, const TDeviceInfo &devinfo, const TKestConfiguration &kestConfiguration,
        double value, double valueRs) const = 0;

    // On entry `value` is the installation's reading of the parameter the analog output carries; on
    // return it is the current (mA) the output should deliver. `valueAnalog` is the measured output
    // current (mA). `FreqLimitIndex` selects the frequency band for parameter 26 (callers pass 2).
    virtual double CalculateErrorAnalog(int paramNum, int FreqLimitIndex, const TDeviceInfo &devinfo,
        const TKestConfiguration &kestConfiguration, double &value, double valueAnalog) const = 0;

    // The analog-output ranges, by `AmperageRangeNum`, in the order of the main window's list.
    struct TAnalogRange {
        const char *caption;
        double up; // top value, mA
        double low; // lower value of an ordinary parameter, mA
        double lowSigned; // lower value of a signed power parameter, mA
    };
    static constexpr int kAnalogRangeCount = 5;
    static const TAnalogRange &AnalogRange(int amperageRangeNum); // clamps nothing: 0..4 only
    static QStringList AnalogRangeCaptions();

    // Phase and total active and reactive powers (10–15, 22, 23): their zero sits mid-range.
    static bool IsSignedPower(int paramNum);

    // Frequency bands by index: 1 none (0 to 0 Hz), 2 45–55 Hz, 3 48–52, 4 49–51, 5 47–52.
    static bool FrequencyBand(int index, double &low, double &high);

protected:
    // (valueRs / rsFullScale − value / kestFullScale) × 100, whole numbers beyond ±100 %.
    static double DigitalError(double value, double kestFullScale, double valueRs, double rsFullScale);
    // Steps 2–5 of the analog error from the normalised reading p (frequency handled here).
    static double AnalogError(int paramNum, int FreqLimitIndex, const TKestConfiguration &kestConfiguration, double p,
        double &value, double valueAnalog);
};

class TErrorCalculatorI : public TErrorCalculator {
public:
    double CalculateError(int paramNum, const TDeviceInfo &devinfo, const TKestConfiguration &kestConfiguration,
        double value, double valueRs) const override;
    double CalculateErrorAnalog(int paramNum, int FreqLimitIndex, const TDeviceInfo &devinfo,
        const TKestConfiguration &kestConfiguration, double &value, double valueAnalog) const override;
};

class TErrorCalculatorU : public TErrorCalculator {
public:
    double CalculateError(int paramNum, const TDeviceInfo &devinfo, const TKestConfiguration &kestConfiguration,
        double value, double valueRs) const override;
    double CalculateErrorAnalog(int paramNum, int FreqLimitIndex, const TDeviceInfo &devinfo,
        const TKestConfiguration &kestConfiguration, double &value, double valueAnalog) const override;
};

class TErrorCalculatorF : public TErrorCalculator {
public:
    double CalculateError(int paramNum, const TDeviceInfo &devinfo, const TKestConfiguration &kestConfiguration,
        double value, double valueRs) const override;
    double CalculateErrorAnalog(int paramNum, int FreqLimitIndex, const TDeviceInfo &devinfo,
        const TKestConfiguration &kestConfiguration, double &value, double valueAnalog) const override;
};

class TErrorCalculatorPQ : public TErrorCalculator {
public:
    double CalculateError(int paramNum, const TDeviceInfo &devinfo, const TKestConfiguration &kestConfiguration,
        double value, double valueRs) const override;
    double CalculateErrorAnalog(int paramNum, int FreqLimitIndex, const TDeviceInfo &devinfo,
        const TKestConfiguration &kestConfiguration, double &value, double valueAnalog) const override;
};

class TErrorCalculatorQX4 : public TErrorCalculator {
public:
    double CalculateError(int paramNum, const TDeviceInfo &devinfo, const TKestConfiguration &kestConfiguration,
        double value, double valueRs) const override;
    double CalculateErrorAnalog(int paramNum, int FreqLimitIndex, const TDeviceInfo &devinfo,
        const TKestConfiguration &kestConfiguration, double &value, double valueAnalog) const override;
};
