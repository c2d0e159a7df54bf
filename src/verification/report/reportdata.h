#pragma once
// The protocol data written into a report's header: every field is text as the user typed it.

#include <QString>

struct TReportData {
    QString ProtocolNum;
    QString DeviceName;
    QString DeviceNum;
    QString Date; // dd.MM.yyyy
    QString FactoryNum;
    QString Conditions;
    QString EquipmentName;
    QString PoverkaDoc;
    QString Inspection;
    QString ElectricityStrength;
    QString Pulsation;
    QString Conclusion;
    QString Verifier;
    // The transformation coefficients, from the device settings (never stored with the report data).
    QString KU1;
    QString KU2;
    QString KI1;
    QString KI2;
    // Who verified and what, as a laboratory's protocol names them (after the coefficients so that
    // the older fields keep their places).
    QString LabName;
    QString LabAccreditation; // the accreditation number
    QString DeviceOwner;
    QString DeviceType;
    QString RegistryNum; // the state register number of the type
    QString PoverkaMethod; // the verification method
    QString Checker; // the second signature
};
