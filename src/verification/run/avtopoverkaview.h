#pragma once
// What the verification window's logic asks of its screen. The window implements it with its controls;
// tests and the command line implement it with recorders. The logic owns every selection; the window
// passes each choice to a handler of the logic as its argument and shows what it is told to show.

#include "protocol/ranges.h"

#include <QString>

#include <cstdint>

class TKestAvtopoverkaGrid;

// The setup panel and the extra panel, as the logic holds them.
struct TAvtopoverkaSelections {
    TCurrentRange currentRange = TCurrentRange::A5;
    TVoltageRange voltage = TVoltageRange::V380;
    bool scheme4 = true; // "4-x провод." (else "3-x провод.")
    bool loadMax = true; // "Нагрузка": "Макс." (else "Мин.")
    bool aru = false; // "АРУ"
    TURange range = TURange::R0_125; // "Диапазон"
    int outputSignalIndex = 0; // "Выходной сигнал, мА"
    int rsSpeedIndex = 3; // "Скорость по RS485"
    bool autoMode = false; // "Авто"
    bool autoIncrement = true; // "АвтоИнкр."
    double autoIncrementStep = 0.5;
};

// The five numeric entries.
enum class TEntry { Current, Voltage, Angle, Frequency, Address };

// Their values as the window shows them at the moment of a click.
struct TEntryValues {
    double current = 0;
    double voltage = 0;
    double angle = 0;
    double frequency = 51;
    double address = 1;
};

class IAvtopoverkaView {
public:
    virtual ~IAvtopoverkaView() = default;

    // Message boxes: caption "Ошибка" for errors.
    virtual void ShowError(const QString &text) = 0;
    virtual void ShowMessage(const QString &text) = 0;
    // A yes/no question; true for yes.
    virtual bool Confirm(const QString &title, const QString &text) = 0;
    // "Настройка сценария" as if the user chose it (nothing where there is no window to open).
    virtual void OpenScenarioSettings() { }

    // Shows the selections as the logic holds them, without calling any handler back.
    virtual void ShowSelections(const TAvtopoverkaSelections &selections) = 0;
    virtual void SetEntryLimits(TEntry entry, double min, double max) = 0;
    virtual void SetEntryValue(TEntry entry, double value) = 0;

    // Tabs: a page is added once and kept (closing a tab hides it); the table is the logic's.
    virtual void AddTabPage(int tab, TKestAvtopoverkaGrid *grid) = 0;
    virtual void SetTabVisible(int tab, bool visible) = 0;
    virtual void SetTabCaption(int tab, const QString &caption) = 0;
    virtual void SetActiveTab(int tab) = 0;
    virtual void SetPlusVisible(bool visible) = 0;
    virtual void SetPasteEnabled(bool enabled) = 0;

    // A run: the editing controls, the device controls and the setup panel locked while it goes on.
    virtual void SetLocked(bool locked) = 0;
    // The status line: point k of n, tab, time left (empty: nothing running).
    virtual void ShowProgress(const QString &text) = 0;

    // The extra panel.
    virtual void SetAddressColor(uint32_t windowsColor) = 0;
    virtual void SetAddressEnabled(bool enabled) = 0;
    virtual void SetReadSettingsEnabled(bool enabled) = 0;
    virtual void SetCoefficientLabel(const QString &text) = 0;
};
