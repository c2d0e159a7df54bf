#pragma once
// The tuning window ("Автонастройка"). Thin: every choice goes to TAutoTuning as the argument of its
// handler, and TAutoTuning tells the window what to show. Modeless; it may be closed at any moment: a
// run still going is ended first (the installation's outputs off and confirmed), then the window closes
// and deletes itself.
//
// The main window: new TForm14(this), then InitKestCommunication(config), InitDeviceCommunication(),
// SetJournal(journal) when there is a results journal, show().

#include <QWidget>

#include <array>
#include <memory>

#include "tuning/autotuning.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class TForm15;
class TJournal;
class TConfigController;
class TTuningJournalRecorder;

class TForm14 : public QWidget, public ITuningView {
    Q_OBJECT
public:
    explicit TForm14(QWidget *parent = nullptr);
    ~TForm14() override;

    void InitKestCommunication(TConfigController *_config);
    void InitDeviceCommunication();

    // Every run from now on goes into `journal` (not owned; it must outlive this window, or be taken
    // away with SetJournal(nullptr) before it goes). Null: nothing is journalled, the default.
    void SetJournal(TJournal *journal);

    TAutoTuning &Logic() { return *logic_; }
    TForm15 *IdentityWindow() const { return form15_; }

    // ITuningView
    void ClearLog() override;
    void AddLog(const QString &line) override;
    void ShowChoices(const TTuningChoices &choices) override;
    void SetCoefficientLabel(const QString &text) override;
    void SetRunning(bool running) override;
    void ShowError(const QString &text) override;

    // The buttons' handlers, also for tests.
    void ExtraSettingsClicked();
    void CoefficientsClicked();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void BuildControls();
    void Bind();

    std::unique_ptr<TAutoTuning> logic_;
    // Watches the logic's runs and passes the identity reads on to the identity window; made after
    // the logic, and the logic is ended first, so a run ended by closing the window is journalled.
    std::unique_ptr<TTuningJournalRecorder> recorder_;
    TForm15 *form15_ = nullptr;
    bool closing_ = false; // the outputs are off: the next close goes through
    bool closeRequested_ = false; // a close waits for the outputs

    QButtonGroup *voltage_ = nullptr;
    QButtonGroup *current_ = nullptr;
    QButtonGroup *scheme_ = nullptr;
    QSpinBox *netAdr_ = nullptr;
    QSpinBox *newAdr_ = nullptr;
    QGroupBox *coefGroup_ = nullptr;
    QLabel *coefLabel_ = nullptr;
    QComboBox *rs1_ = nullptr;
    QComboBox *rs2_ = nullptr;
    QCheckBox *rs2Enabled_ = nullptr;
    QComboBox *rs2Config_ = nullptr;
    std::array<QComboBox *, 3> outputs_{};
    QComboBox *analogType_ = nullptr;
    QCheckBox *analogEnabled_ = nullptr;
    QCheckBox *sound_ = nullptr;
    QPushButton *readSettings_ = nullptr;
    QPushButton *extraSettings_ = nullptr;
    QPushButton *find_ = nullptr;
    QPushButton *start_ = nullptr;
    QPushButton *stop_ = nullptr;
    QPlainTextEdit *log_ = nullptr;
};

// The tuning window as the main window opens it: over the settings store and the ports of this run (empty:
// the settings' "Port1"/"Port2"), its runs journalled (journal may be null).
TForm14 *CreateTuningWindow(TConfigController *store, TJournal *journal, QWidget *parent,
    const QString &port1 = QString(), const QString &port2 = QString());
