#pragma once
// The KEST installation's register map: every request the program sends to the installation
// (device address 0x77), the classifiers that tell which request an answer belongs to, and the
// parsers that turn answers into the parameter model.
//
// Builders return a fresh TFramePtr. Classifiers look only at the bytes they name and are false
// when such a byte lies outside the frame. Parsers return new objects in shared_ptrs and never
// read at or beyond the answer's size: a quantity the answer does not hold is left at 0 with
// isDataCorrect false, other fields the answer does not hold keep their defaults.

#include "protocol/modbuscommands.h"
#include "protocol/parameters.h"

#include <QStringList>

class TKestCmdManager : public TModbusCommands {
public:
    static constexpr int kNetAdr = 0x77;
    static constexpr uint8_t kDeviceInfoLength = 19;
    static constexpr uint8_t kOldDeviceInfoLength = 15;

    TKestCmdManager();

    uint8_t deviceInfoLengthInWords = kDeviceInfoLength;
    void SetOldDevInfoLength() { deviceInfoLengthInWords = kOldDeviceInfoLength; }

    // Single-register writes (function 6).
    TFramePtr CreateCmdDisableDistantControl() const;
    TFramePtr CreateCmdSet1A5A(bool value) const;
    TFramePtr CreateCmdSetUaU650(bool value) const;
    TFramePtr CreateCmdSetAnalogInputNumber(uint8_t value) const;
    TFramePtr CreateCmdSet5mA20mA(bool value) const;
    TFramePtr CreateCmdSetRn(bool value) const;
    TFramePtr CreateCmdSetScheme(bool value) const;
    TFramePtr CreateCmdSetDeviceSpeedIndex(int value) const;
    TFramePtr CreateCmdSetUOver300(bool value) const;
    TFramePtr CreateCmdSetRsParamNum(int value) const;
    TFramePtr CreateCmdSendAngle(int angle) const;
    TFramePtr CreateCmdSetAmplifierUa(bool value) const;
    TFramePtr CreateCmdSetAmplifierUb(bool value) const;
    TFramePtr CreateCmdSetAmplifierUc(bool value) const;
    TFramePtr CreateCmdSetAmplifierIa(bool value) const;
    TFramePtr CreateCmdSetAmplifierIb(bool value) const;
    TFramePtr CreateCmdSetAmplifierIc(bool value) const;
    TFramePtr CreateCmdSetAmplifierIa5(bool value) const;
    TFramePtr CreateCmdSetAmplifierIb5(bool value) const;
    TFramePtr CreateCmdSetAmplifierIc5(bool value) const;
    TFramePtr CreateCmdSetAmplifierU650(bool value) const;
    TFramePtr CreateCmdSendAutoMode(bool value) const; // sent inverted: 0 = automatic
    TFramePtr CreateCmdSendAddress(int value) const;

    // Float writes (function 16).
    TFramePtr CreateCmdSendUa(double value) const;
    TFramePtr CreateCmdSendIa(double value) const;
    TFramePtr CreateCmdSendU650(double u) const;
    TFramePtr CreateCmdSendFrequency(double freq) const;
    TFramePtr CreateCmdSendUaUbUc(double Ua, double Ub, double Uc) const;
    TFramePtr CreateCmdSendIaIbIc(double Ia, double Ib, double Ic) const;
    TFramePtr CreateCmdSendIa5Ib5Ic5(double Ia, double Ib, double Ic) const;
    TFramePtr CreateCmdSendIaIc(double Ia, double Ic) const;
    TFramePtr CreateCmdSendIa5Ic5(double Ia, double Ic) const;
    TFramePtr CreateCmdSendUaUc(double value) const;

    // Block writes assembled byte by byte (function 16).
    TFramePtr CreateCmdEnableDistantControl(const TKestConfiguration &configuration) const;
    TFramePtr CreateCmdSetAmplifierUaUbUc(int value) const;
    TFramePtr CreateCmdOffAmplifiers() const;

    // Reads (function 3).
    TFramePtr CreateCmdReadDeviceInfo() const;
    TFramePtr CreateCmdReadDeviceStatusAndAllParameters() const;
    TFramePtr CreateCmdReadAllParametersRS() const;
    TFramePtr CreateCmdReadDeviceAddress() const;

    // Classifiers; not exclusive (a three-amplifier write is also IsCmdSetAmplifierUa).
    static bool IsCmdConfiguration(const TFrame &cmd);
    static bool IsDistantControlEnabled(const TFrame &cmd);
    static bool IsCmdDisableControl(const TFrame &cmd);
    static bool IsCmdAngle(const TFrame &cmd);
    static bool IsCmdFrequence(const TFrame &cmd);
    static bool IsCmdAmperage(const TFrame &cmd);
    static bool IsCmdOffAmplifiers(const TFrame &cmd);
    static bool IsCmdAllParameters(const TFrame &cmd);
    static bool IsCmdReadParametersAnalog(const TFrame &cmd);
    static bool IsCmdReadDeviceInfo(const TFrame &cmd);
    static bool IsCmdReadDeviceAddress(const TFrame &cmd);
    static bool IsCmdWriteDeviceAddress(const TFrame &cmd);
    static bool IsCmdAllParametersRS(const TFrame &cmd);
    static bool IsCmdSendDeviceMode(const TFrame &cmd);
    static bool IsCmdSetAmplifierUa(const TFrame &cmd);
    static bool IsCmdSetAmplifierUb(const TFrame &cmd);
    static bool IsCmdSetAmplifierUc(const TFrame &cmd);
    static bool IsCmdSetAmplifierIa(const TFrame &cmd);
    static bool IsCmdSetAmplifierIb(const TFrame &cmd);
    static bool IsCmdSetAmplifierIc(const TFrame &cmd);
    static bool IsCmdSetAmplifierIa5(const TFrame &cmd);
    static bool IsCmdSetAmplifierIb5(const TFrame &cmd);
    static bool IsCmdSetAmplifierIc5(const TFrame &cmd);
    static bool IsCmdSetAmplifierU650(const TFrame &cmd);
    static bool IsCmdSetAmplifierUaUbUc(const TFrame &cmd);
    static bool IsCmdSet1A5A(const TFrame &cmd);
    static bool IsCmdSetUaU650(const TFrame &cmd);
    static bool IsCmdSetAmperageIn(const TFrame &cmd);
    static bool IsCmdSet5mA20mA(const TFrame &cmd);
    static bool IsCmdSetRn(const TFrame &cmd);
    static bool IsCmdSetScheme(const TFrame &cmd);
    static bool IsCmdSetDeviceSpeedIndex(const TFrame &cmd);
    static bool IsCmdSetUOver300(const TFrame &cmd);

    // Parsers.
    TParametersAndStatusPtr ParseParameters_ConfigurationQX4(const TFrame &answer) const;
    TParametersPtr GetParametersFromFrame_ConfigurationQX4(const TFrame &answer, int start) const;
    TParametersPtr GetParametersFromFrame_ConfigurationI(const TFrame &answer, int start) const;
    TParametersPtr GetParametersFromFrame_ConfigurationU(const TFrame &answer, int start) const;
    TParametersPtr GetParametersFromFrame_ConfigurationF(const TFrame &answer, int start) const;
    TParametersPtr GetParametersFromFrame_ConfigurationP(const TFrame &answer, int start) const;
    TParametersPtr GetParametersFromFrame_ConfigurationQ(const TFrame &answer, int start) const;
    TParametersPtr GetParametersFromFrame_ConfigurationPQ(const TFrame &answer, int start) const;
    TParametersAndStatusPtr ParseParametersRS_ConfigurationI(const TFrame &answer) const;
    TParametersAndStatusPtr ParseParametersRS_ConfigurationU(const TFrame &answer) const;
    TParametersAndStatusPtr ParseParametersRS_ConfigurationF(const TFrame &answer) const;
    TParametersAndStatusPtr ParseParametersRS_ConfigurationP(const TFrame &answer) const;
    TParametersAndStatusPtr ParseParametersRS_ConfigurationQ(const TFrame &answer) const;
    TParametersAndStatusPtr ParseParametersRS_ConfigurationPQ(const TFrame &answer) const;
    TParametersAndStatusPtr ParseParametersRS_ConfigurationPQ_P(const TFrame &answer) const;
    TParametersAndStatusPtr ParseParametersRS_ConfigurationPQ_Q(const TFrame &answer) const;
    TParametersAndStatusPtr ParseParametersRS_ConfigurationQX4(const TFrame &answer) const;
    TDeviceInfoPtr ParseDeviceInfo(const TFrame &answer) const;
    TDeviceInfoPtr ParseDeviceInfoNotQx4(const TFrame &answer) const;
    // The transducer's address in bytes 3..4; 0 when the answer does not hold it.
    static int RecieveDeviceAddress(const TFrame &answer);
    static int MergeBytesToInteger(uint8_t byteH, uint8_t byteL) { return byteH * 256 + byteL; }

    static QStringList GetDeviceSpeedList();
    static int GetDefaultDeviceSpeedIndex() { return 3; }

private:
    TFramePtr Write(int reg, int value) const;
    // One float at `position` into `target`; missing leaves 0 with isDataCorrect false.
    void ReadOne(const TFrame &answer, int position, TParameter &target) const;
    TParametersAndStatusPtr WithStatus(TParametersPtr parameters) const;
};
