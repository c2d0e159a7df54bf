#include "update/update.h"

#include "config/configcontroller.h"
#include "presentation/controls/messageservice.h"
#include "update/updateendpoints.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QUrl>
#include <QVBoxLayout>

#include <cstdlib>

TUpdate::TUpdate(QWidget *owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint),
      openHandler_([](const QString &path) { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); }),
      // The installer replaces the running program: leave without any further clean-up.
      exitHandler_([](int code) { std::_Exit(code); })
{
    setObjectName(QStringLiteral("TUpdate"));
    setWindowTitle(QStringLiteral("Оповещение"));
    setWindowModality(Qt::ApplicationModal);

    label_ = new QLabel(QStringLiteral("Доступно обновление!"), this);
    label_->setObjectName(QStringLiteral("labelUpdate"));
    label_->setAlignment(Qt::AlignCenter);
    skipBox_ = new QCheckBox(QStringLiteral("Больше не показывать"), this);
    skipBox_->setObjectName(QStringLiteral("checkSkipUpdate"));
    downloadButton_ = new QPushButton(QStringLiteral("Скачать"), this);
    downloadButton_->setObjectName(QStringLiteral("buttonDownload"));
    cancelButton_ = new QPushButton(QStringLiteral("Отмена"), this);
    cancelButton_->setObjectName(QStringLiteral("buttonCancel"));

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(downloadButton_);
    buttons->addWidget(cancelButton_);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(label_);
    layout->addWidget(skipBox_);
    layout->addLayout(buttons);

    connect(downloadButton_, &QPushButton::clicked, this, &TUpdate::OnDownload);
    connect(cancelButton_, &QPushButton::clicked, this, &TUpdate::OnCancel);
    connect(skipBox_, &QCheckBox::toggled, this, &TUpdate::OnSkipToggled);
    // However the window goes away, the waiting thread must hear of it.
    connect(this, &QDialog::finished, this, [this] {
        if (thrUpdate)
            thrUpdate->NoticeClosed();
    });
    // The main window may outlive the event loop; the check must not.
    if (auto *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &TUpdate::StopCheck);
}

TUpdate::~TUpdate()
{
    StopCheck();
}

void TUpdate::SetConfig(TConfigController *_config)
{
    config = _config;
}

void TUpdate::StopCheck()
{
    if (thrUpdate) {
        thrUpdate->Stop();
        thrUpdate->wait();
    }
}

void TUpdate::CheckNewVersion(const QString &_name, const QString &_currentVersion, const QString &_versionUrl,
    const QString &_downloadUrl, QWidget *_masterForm)
{
    // One check at a time.
    thrUpdate.reset();
    masterForm = _masterForm;
    skipUpdate = false;
    skipBox_->setChecked(false);
    downloadButton_->setEnabled(true);

    QString appData = options_.appDataFolder;
    if (appData.isEmpty())
        appData = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    thrUpdate
        = std::make_unique<TThreadUpdate>(this, _name, _currentVersion, _versionUrl, _downloadUrl, appData, options_);
    thrUpdate->SetMode(TUpdateMode::CheckVersion);
    thrUpdate->start();
}

bool TUpdate::CheckAtStartUp(QWidget *_masterForm)
{
    if (!config || !config->ReadUpdateFlag())
        return false;
    const QString server = KestUpdate::ReadUpdateServer(*config);
    CheckNewVersion(KestUpdate::kProgramName, KestUpdate::kProgramVersion, KestUpdate::VersionPageUrl(server),
        KestUpdate::InstallerUrl(server), _masterForm);
    return true;
}

void TUpdate::ShowNotice()
{
    // Shown at most once in a run; a second call only releases the waiting thread.
    if (shown_) {
        if (thrUpdate)
            thrUpdate->NoticeClosed();
        return;
    }
    shown_ = true;
    adjustSize();
    QScreen *screen = masterForm ? masterForm->screen() : QGuiApplication::primaryScreen();
    if (screen)
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    show();
    raise();
    activateWindow();
}

void TUpdate::DownloadFinished(bool ok, const QString &path)
{
    if (!ok) {
        TMessageService::Error(masterForm, QStringLiteral("Не удалось загрузить обновление."));
        return;
    }
    TMessageService::Information(masterForm, QStringLiteral("Загрузка завершена."));
    if (openHandler_)
        openHandler_(path);
    if (exitHandler_)
        exitHandler_(0);
}

void TUpdate::OnDownload()
{
    if (thrUpdate)
        thrUpdate->SetMode(TUpdateMode::DownloadUpdate);
    accept();
}

void TUpdate::OnCancel()
{
    reject();
}

void TUpdate::reject()
{
    // Esc and the close box reach QDialog::reject() without passing "Отмена"; only a notice that is
    // actually on screen is being declined (closing a hidden one stores nothing).
    if (isVisible() && config)
        config->WriteUpdateFlag(GetFUpdate());
    QDialog::reject();
}

void TUpdate::OnSkipToggled(bool checked)
{
    skipUpdate = checked;
    downloadButton_->setEnabled(!checked);
}
