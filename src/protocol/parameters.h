#pragma once
// The measured-quantity model: 33 quantities of the installation (and of a transducer), addressed by
// index 1..33 or by name, and the records that travel with a reading set.
//
// Ownership: all records here are copyable values. TParameters owns its 33 parameters as members;
// ParamArray and the lookups hand out plain pointers into the object, valid while it lives (a
// copy gets its own array). Parsers return every new reading set in a std::shared_ptr
// (TParametersPtr, TParametersAndStatusPtr, TDeviceInfoPtr): whoever keeps the latest keeps it alive.
// Names and units are QStrings ("V·A" with U+00B7).

#include <QString>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

// The 33 quantities by index: the model's numbering, which is also the installation's and the
// transducers' (and the numbers stored in the settings and shown in the analog pop-up). Unscoped, so that
// a name stands wherever an index is taken.
enum TParamIndex : int {
    piNone = 0,
    piUa = 1,
    piUb,
    piUc, // phase voltages
    piIa,
    piIb,
    piIc, // currents
    piULa,
    piULb,
    piULc, // line voltages Uab, Ubc, Uca
    piPa,
    piPb,
    piPc,
    piQa,
    piQb,
    piQc,
    piSa,
    piSb,
    piSc,
    piKa,
    piKb,
    piKc, // power factors
    piP,
    piQ,
    piS,
    piK, // totals
    piFreq, // 26
    piU,
    piI,
    piUL, // averages "Uср", "Iср", line "Uср"
    piU0,
    piI0, // zero sequence
    piEa,
    piEr, // energies (33 "Wr")
};
static_assert(piQ == 23 && piFreq == 26 && piI0 == 31 && piEr == 33);

// What a quantity is, for scaling, precision and the choice of full-scale value.
enum class TParamKind { None, PhaseVoltage, LineVoltage, Current, Power, Factor, Frequency, Energy };

constexpr TParamKind ParamKind(int index)
{
    switch (index) {
    case piUa:
    case piUb:
    case piUc:
    case piU:
    case piU0:
        return TParamKind::PhaseVoltage;
    case piULa:
    case piULb:
    case piULc:
    case piUL:
        return TParamKind::LineVoltage;
    case piIa:
    case piIb:
    case piIc:
    case piI:
    case piI0:
        return TParamKind::Current;
    case piPa:
    case piPb:
    case piPc:
    case piQa:
    case piQb:
    case piQc:
    case piSa:
    case piSb:
    case piSc:
    case piP:
    case piQ:
    case piS:
        return TParamKind::Power;
    case piKa:
    case piKb:
    case piKc:
    case piK:
        return TParamKind::Factor;
    case piFreq:
        return TParamKind::Frequency;
    case piEa:
    case piEr:
        return TParamKind::Energy;
    default:
        return TParamKind::None;
    }
}
constexpr bool IsVoltageParam(int index)
{
    return ParamKind(index) == TParamKind::PhaseVoltage || ParamKind(index) == TParamKind::LineVoltage;
}
constexpr bool IsCurrentParam(int index)
{
    return ParamKind(index) == TParamKind::Current;
}
constexpr bool IsPowerParam(int index)
{
    return ParamKind(index) == TParamKind::Power;
}

struct TSuperParameter {
    int index = 0;
    double value = 0.0;
    QString name;
    QString measure;

    TSuperParameter() = default;
    TSuperParameter(int _index, QString _name, QString _measure)
        : index(_index), name(std::move(_name)), measure(std::move(_measure))
    {
    }
    virtual ~TSuperParameter() = default;
    TSuperParameter(const TSuperParameter &) = default;
    TSuperParameter &operator=(const TSuperParameter &) = default;
};

struct TParameter : TSuperParameter {
    bool isDataCorrect = true; // false when the device marked the value as missing

    TParameter() = default;
    TParameter(int _index, QString _name, QString _measure)
        : TSuperParameter(_index, std::move(_name), std::move(_measure))
    {
    }
};

// 34 slots: slot k-1 holds the parameter of index k, the last slot stays empty (nullptr).
using TParamArray = std::vector<TParameter *>;

class TSuperParameterList {
public:
    virtual ~TSuperParameterList() = default;
    // nullptr when there is no such parameter.
    virtual TParameter *GetParameterByIndex(int index) = 0;
    virtual TParameter *GetParameterByName(const QString &name) = 0;
    virtual const TParamArray &GetParameterArray() const = 0;

protected:
    TParamArray ParamArray;
};

class TParameters : public TSuperParameterList {
public:
    static constexpr int kCount = 33;
    static constexpr int kSlots = 34;

    TParameters();
    TParameters(const TParameters &other);
    TParameters &operator=(const TParameters &other);
    ~TParameters() override = default;

    TParameter *GetParameterByIndex(int index) override;
    const TParameter *GetParameterByIndex(int index) const;
    TParameter *GetParameterByName(const QString &name) override;
    const TParameter *GetParameterByName(const QString &name) const;
    const TParamArray &GetParameterArray() const override { return ParamArray; }
    TParameter &GetFrequence() { return Freq; }
    const TParameter &GetFrequence() const { return Freq; }

    // Declared in the order of the original model (S before Q, though their indices are 24 and 23).
    TParameter Ua, Ub, Uc, Ia, Ib, Ic, ULa, ULb, ULc, Pa, Pb, Pc, Qa, Qb, Qc, Sa, Sb, Sc, Ka, Kb, Kc, P, S, Q, K, Freq,
        U, I, UL, U0, I0, Ea, Er;

private:
    void BindArray();
};

using TParametersPtr = std::shared_ptr<TParameters>;

struct TParametersAndStatus {
    TParametersAndStatus() : Parameters(std::make_shared<TParameters>()) { }
    explicit TParametersAndStatus(TParametersPtr parameters)
        : Parameters(parameters ? std::move(parameters) : std::make_shared<TParameters>())
    {
    }

    TParametersPtr Parameters; // never null
    bool isDeviceDisconnected = false;
    bool HasAmplifierError = false;
    uint8_t AmplifierErrorNum = 0;
    double AnalogOut = 0.0;
    bool isAutoMode = false;
    int DeviceAddress = 0;
};

using TParametersAndStatusPtr = std::shared_ptr<TParametersAndStatus>;

struct TTransfCoefs {
    double I1 = 0.0;
    double I2 = 0.0;
    double U1 = 0.0;
    double U2 = 0.0;
};

struct TAnalogOut {
    std::array<uint8_t, 3> OutArray{0, 0, 0};
};

struct TDeviceInfo {
    int deviceType = 0;
    int deviceSet = 0;
    int scheme = 0;
    int analogOutputRange = 0;
    TAnalogOut AnalogOut;
    TTransfCoefs transfCoefs;
    double Scale = 0.0;
    int IntegerDigitCount = 0;
    int UnitCode = 0;
};

using TDeviceInfoPtr = std::shared_ptr<TDeviceInfo>;

struct TKestConfiguration {
    QString ConfigurationName; // "I", "U", "F", "P", "Q", "PQ", "QX4", "QX4E" or empty
    double AmperageMax = 0.0; // A
    int VoltageMax = 0; // V
    bool VoltageFlag = false;
    uint8_t AnalogInputNum = 1;
    uint8_t AmperageRangeNum = 0;
    bool RnFlag = false;
    bool SchemeFlag = false;
    uint8_t URangeIndex = 0;

    // The current range goes beyond 1 A: the 5 A amplifiers are used.
    bool GetAmperageFlag() const { return AmperageMax > 1.0; }
};
