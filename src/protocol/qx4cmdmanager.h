#pragma once
// The QX4 transducer's register map, for a transducer connected straight to the computer (tuning
// and identity windows): request builders, classifiers of the last request sent and the decoders
// of the few answers with a layout of their own.
//
// Builders return a fresh TFramePtr addressed to the current netAdr. Classifiers look only at the
// bytes they name (false when a byte lies outside the frame). Decoders never read at or beyond the
// answer's size; fields the answer does not hold stay 0.

#include "protocol/modbuscommands.h"
#include "protocol/parameters.h"

#include <array>

// Reference values written into the transducer during tuning.
struct TAdjustingParameters {
    float Ua = 0, Ub = 0, Uc = 0; // phase voltages, V
    float Uab = 0, Ubc = 0, Uac = 0; // line voltages, V
    float Ia = 0, Ib = 0, Ic = 0; // currents, A
    float F = 0; // Hz
};

// Identity of the transducer.
struct TExtraSettingsObject {
    int32_t FactoryNumber = 0;
    int32_t ModificationNumber = 0;
    int32_t RelayCount = 0;
    int32_t InterfaceCount = 0;
};

// Prepared frames of one phase's angle-correction loop; the frames are shared with whoever queues them.
struct TShiftAngleCmdSet {
    TFramePtr cmdShiftUp1, cmdShiftUp10, cmdShiftDown1, cmdShiftDown10, cmdReadNextP;

    TShiftAngleCmdSet() = default;
    TShiftAngleCmdSet(TFramePtr up1, TFramePtr up10, TFramePtr down1, TFramePtr down10, TFramePtr readNextP)
        : cmdShiftUp1(std::move(up1)), cmdShiftUp10(std::move(up10)), cmdShiftDown1(std::move(down1)),
          cmdShiftDown10(std::move(down10)), cmdReadNextP(std::move(readNextP))
    {
    }
};

// Prepared frames of one analog output's coefficient loop. Note the constructor's argument order
// (all "up" frames first) differs from the field order.
struct TShiftAnalogOutCmdSet {
    TFramePtr cmdShiftUp1, cmdShiftUp10, cmdShiftDown1, cmdShiftDown10, cmdShiftUp100, cmdShiftDown100;

    TShiftAnalogOutCmdSet() = default;
    TShiftAnalogOutCmdSet(
        TFramePtr up1, TFramePtr up10, TFramePtr up100, TFramePtr down1, TFramePtr down10, TFramePtr down100)
        : cmdShiftUp1(std::move(up1)), cmdShiftUp10(std::move(up10)), cmdShiftDown1(std::move(down1)),
          cmdShiftDown10(std::move(down10)), cmdShiftUp100(std::move(up100)), cmdShiftDown100(std::move(down100))
    {
    }
};

class TQx4CmdManager : public TModbusCommands {
public:
    // Register addresses (byte offsets into the transducer's map).
    enum : int {
        kRegParameters = 0x0000,
        kRegPa = 0x0024,
        kRegPb = 0x0028,
        kRegPc = 0x002C,
        kRegNetAdr = 0x0204,
        kRegFactoryNumber = 0x0208,
        kRegRsRate1 = 0x020C,
        kRegScheme = 0x0210,
        kRegAnalogType = 0x0212,
        kRegModification = 0x0216,
        kRegRsConfig2 = 0x021C,
        kRegRsRate2 = 0x021E,
        kRegRelayCount = 0x0270,
        kRegInterfaceCount = 0x0272,
        kRegShiftAngleUp = 0x0280,
        kRegShiftAngleDown = 0x0282,
        kRegAnalogCoefIncrease = 0x0284,
        kRegAnalogCoefDecrease = 0x0286,
        kRegAnalogMode = 0x031E,
        kRegSaveChanges = 0x0320,
        kRegAnalogOuts = 0x0400,
        kRegAdjustingUa = 0x0700,
        kRegAdjustingFrequence = 0x0734,
        kRegAnalogOut1Current = 0x0780,
        kRegAnalogOut2Current = 0x0784,
        kRegAnalogOut3Current = 0x0788,
        kRegTransfCoefs = 0x0800,
        kRegZeroOutNoise = 0x2100,
    };
    // Parameter codes of the analog-output assignment (0-based position in the 33-entry list).
    static constexpr int kCodePa = 9, kCodePb = 10, kCodePc = 11;

    explicit TQx4CmdManager(int netAdr);

    uint8_t netAdr = 0;
    void SetNetAdr(int value) { netAdr = static_cast<uint8_t>(value & 0xFF); }

    TFramePtr CreateCmdReadParameters() const;
    TFramePtr CreateCmdReadPa() const;
    TFramePtr CreateCmdReadPb() const;
    TFramePtr CreateCmdReadPc() const;

    TFramePtr CreateCmdWriteAdjustingUa(const TAdjustingParameters &p) const;
    TFramePtr CreateCmdWriteAdjustingUb(const TAdjustingParameters &p) const;
    TFramePtr CreateCmdWriteAdjustingUc(const TAdjustingParameters &p) const;
    TFramePtr CreateCmdWriteAdjustingUab(const TAdjustingParameters &p) const;
    TFramePtr CreateCmdWriteAdjustingUbc(const TAdjustingParameters &p) const;
    TFramePtr CreateCmdWriteAdjustingUac(const TAdjustingParameters &p) const;
    TFramePtr CreateCmdWriteAdjustingIa(const TAdjustingParameters &p) const;
    TFramePtr CreateCmdWriteAdjustingIb(const TAdjustingParameters &p) const;
    TFramePtr CreateCmdWriteAdjustingIc(const TAdjustingParameters &p) const;
    TFramePtr CreateCmdWriteAdjustingFrequence(const TAdjustingParameters &p) const;

    TFramePtr CreateCmdWriteTransfCoefs(const TTransfCoefs &transfCoefs) const;
    TFramePtr CreateCmdReadTransfCoefs() const;

    TFramePtr CreateCmdShiftIaUp1() const;
    TFramePtr CreateCmdShiftIbUp1() const;
    TFramePtr CreateCmdShiftIcUp1() const;
    TFramePtr CreateCmdShiftIaUp10() const;
    TFramePtr CreateCmdShiftIbUp10() const;
    TFramePtr CreateCmdShiftIcUp10() const;
    TFramePtr CreateCmdShiftIaDown1() const;
    TFramePtr CreateCmdShiftIbDown1() const;
    TFramePtr CreateCmdShiftIcDown1() const;
    TFramePtr CreateCmdShiftIaDown10() const;
    TFramePtr CreateCmdShiftIbDown10() const;
    TFramePtr CreateCmdShiftIcDown10() const;

    TFramePtr CreateCmdIncreaseAnalogCoef(int argOutAndShift) const;
    TFramePtr CreateCmdDecreaseAnalogCoef(int argOutAndShift) const;
    TFramePtr CreateCmdShiftAnalog1CoefUp1() const;
    TFramePtr CreateCmdShiftAnalog1CoefUp10() const;
    TFramePtr CreateCmdShiftAnalog1CoefUp100() const;
    TFramePtr CreateCmdShiftAnalog1CoefDown1() const;
    TFramePtr CreateCmdShiftAnalog1CoefDown10() const;
    TFramePtr CreateCmdShiftAnalog1CoefDown100() const;
    TFramePtr CreateCmdShiftAnalog2CoefUp1() const;
    TFramePtr CreateCmdShiftAnalog2CoefUp10() const;
    TFramePtr CreateCmdShiftAnalog2CoefUp100() const;
    TFramePtr CreateCmdShiftAnalog2CoefDown1() const;
    TFramePtr CreateCmdShiftAnalog2CoefDown10() const;
    TFramePtr CreateCmdShiftAnalog2CoefDown100() const;
    TFramePtr CreateCmdShiftAnalog3CoefUp1() const;
    TFramePtr CreateCmdShiftAnalog3CoefUp10() const;
    TFramePtr CreateCmdShiftAnalog3CoefUp100() const;
    TFramePtr CreateCmdShiftAnalog3CoefDown1() const;
    TFramePtr CreateCmdShiftAnalog3CoefDown10() const;
    TFramePtr CreateCmdShiftAnalog3CoefDown100() const;

    TFramePtr CreateCmdSetAnalogModeWorking() const;
    TFramePtr CreateCmdSetAnalogModeAdjustingHigh() const;
    TFramePtr CreateCmdSetAnalogModeAdjustingMiddle() const;
    TFramePtr CreateCmdSetAnalogModeAdjustingLow() const;
    TFramePtr CreateCmdSetAmperageValueForAdjustingAnalogOut1(double value) const;
    TFramePtr CreateCmdSetAmperageValueForAdjustingAnalogOut2(double value) const;
    TFramePtr CreateCmdSetAmperageValueForAdjustingAnalogOut3(double value) const;
    TFramePtr CreateCmdSetAnalogType5() const;
    TFramePtr CreateCmdSetAnalogType20() const;
    TFramePtr CreateCmdReadAnalogType() const;
    TFramePtr CreateCmdWriteAnalogOuts(int out1, int out2, int out3) const;
    TFramePtr CreateCmdWriteReversiveIndicationParameters() const;
    TFramePtr CreateCmdReadAnalogOuts() const;
    TFramePtr CreateCmdSaveChanges() const;
    TFramePtr CreateCmdEnableZeroOutNoise() const;
    TFramePtr CreateCmdDisableZeroOutNoise() const;
    static TFramePtr CreateCmdFindAddress(); // FF 77 FF FF 00 01 21 FB whatever the address
    TFramePtr CreateCmdWriteNetAdr(int adr) const;
    TFramePtr CreateCmdWriteScheme(int value) const;
    TFramePtr CreateCmdReadScheme() const;
    TFramePtr CreateCmdWriteRsRate1(int index) const;
    TFramePtr CreateCmdReadRsRate1() const;
    TFramePtr CreateCmdWriteRsRate2(int index) const;
    TFramePtr CreateCmdReadRsRate2() const;
    TFramePtr CreateCmdWriteRsConfig2(int number) const;
    TFramePtr CreateCmdReadRsConfig2() const;
    TFramePtr CreateCmdWriteFactoryNumber(int factoryNumber, int year) const;
    TFramePtr CreateCmdWriteModificationNumber(int modificationNumber) const; // caller adds 700
    TFramePtr CreateCmdWriteRelayCount(int relayCount) const;
    TFramePtr CreateCmdWriteInterfaceCount(int interfaceCount) const;
    TFramePtr CreateCmdReadExtraSettings1() const;
    TFramePtr CreateCmdReadExtraSettings2() const;

    // Classifiers of the last request sent (IsCmdFindAddress: of the answer).
    static bool IsCmdReadParameters(const TFrame &cmd);
    static bool IsCmdReadPa(const TFrame &cmd);
    static bool IsCmdReadPb(const TFrame &cmd);
    static bool IsCmdReadPc(const TFrame &cmd);
    static bool IsCmdWriteAdjustingFrequence(const TFrame &cmd);
    static bool IsCmdWriteTransfCoefs(const TFrame &cmd);
    static bool IsCmdReadTransfCoefs(const TFrame &cmd);
    static bool IsCmdShiftAngle(const TFrame &cmd);
    static bool IsCmdShiftAnalogCoef(const TFrame &cmd);
    static bool IsCmdSetAnalogModeWorking(const TFrame &cmd);
    static bool IsCmdSetAnalogModeAdjustingMiddle(const TFrame &cmd);
    static bool IsCmdSetAnalogModeAdjustingHigh(const TFrame &cmd);
    static bool IsCmdSetAmperageValueForAdjustingAnalogOut1(const TFrame &cmd);
    static bool IsCmdSetAmperageValueForAdjustingAnalogOut2(const TFrame &cmd);
    static bool IsCmdSetAmperageValueForAdjustingAnalogOut3(const TFrame &cmd);
    static bool IsCmdSetAnalogType(const TFrame &cmd);
    static bool IsCmdWriteSaveChanges(const TFrame &cmd);
    static bool IsCmdZeroOutNoise(const TFrame &cmd);
    static bool IsCmdWriteNetAdr(const TFrame &cmd);
    static bool IsCmdWriteRsConfig2(const TFrame &cmd);
    static bool IsCmdReadScheme(const TFrame &cmd);
    static bool IsCmdReadRsRate1(const TFrame &cmd);
    static bool IsCmdReadRsRate2(const TFrame &cmd);
    static bool IsCmdReadRsConfig2(const TFrame &cmd);
    static bool IsCmdReadAnalogType(const TFrame &cmd);
    static bool IsCmdReadAnalogOuts(const TFrame &cmd);
    static bool IsCmdReadExtraSettings1(const TFrame &cmd);
    static bool IsCmdReadExtraSettings2(const TFrame &cmd);
    static bool IsCmdFindAddress(const TFrame &answer);

    // Answer decoders.
    static TExtraSettingsObject ParseExtraSettings1(const TFrame &data);
    static TExtraSettingsObject ParseExtraSettings2(const TFrame &data);
    // U1, U2, I1, I2 from positions 4, 8, 12, 16 of the coefficient read's answer.
    TTransfCoefs ParseTransfCoefs(const TFrame &answer) const;
    // The three parameter codes of the assignment read (positions 4, 6, 8).
    static std::array<int, 3> ParseAnalogOuts(const TFrame &answer);
    // RS 2 speed register value → rate index: 1200..38400 read as bit rates give 0..5, other
    // values 0..7 are indices, larger values give their low byte (which may lie beyond 7).
    static int RsRate2ToIndex(int value);
    static int ParseRsRate2Index(const TFrame &answer) { return RsRate2ToIndex(ParseSingleInteger(answer)); }
    // The rate table of both RS speed registers; 0 for an index outside 0..7.
    static int RsRateFromIndex(int index);

private:
    TFramePtr Write(int reg, int value) const;
    TFramePtr Read(int reg, int count) const;
    TFramePtr WriteFloat(int reg, double value) const;
};
