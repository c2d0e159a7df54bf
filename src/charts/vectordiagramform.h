#pragma once
// The window "Векторная диаграмма": modeless, opened from the main window's menu and kept up to date
// by the main window's poll. It keeps the latest reading set of each source, so that the installation's
// poll and the transducer's read, which arrive one after the other, never blank the other's arrows.

#include <QWidget>

#include <optional>

#include "charts/vectordiagram.h"

class TVectorDiagramWidget;

class TVectorDiagramForm : public QWidget {
    Q_OBJECT
public:
    explicit TVectorDiagramForm(QWidget *parent = nullptr);

    // After every poll answer: the installation's 33 readings and the scheme in use.
    void ShowInstallationReadings(const TParameters &readings, TWiringScheme scheme);
    // After every transducer read over RS of a QX4-type transducer: its readings in primary units with
    // its transformation coefficients (zero coefficients: readings in the installation's units).
    void ShowTransducerReadings(const TParameters &readings, const TTransfCoefs &coefs);
    // The transducer is gone (unplugged, not identified, disconnected): its arrows go.
    void ForgetTransducer();
    // Disconnected: nothing to show.
    void Clear();

    TVectorDiagramWidget *Diagram() const { return diagram_; }

private:
    void Rebuild();

    TVectorDiagramWidget *diagram_ = nullptr;
    std::optional<TParameters> installation_;
    std::optional<TParameters> transducer_;
    TTransfCoefs coefs_;
    TWiringScheme scheme_ = TWiringScheme::FourWire;
};
