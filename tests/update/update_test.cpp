// The whole check against a local HTTP server on 127.0.0.1: what the page makes the program do,
// the notice window driven offscreen, the download and its failures, and quitting mid-check.

#include "config/configcontroller.h"
#include "presentation/controls/messageservice.h"
#include "pty.h"
#include "testhttpserver.h"
#include "update/update.h"
#include "update/updateendpoints.h"

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

using namespace KestUpdate;

// Readable outcomes in failure messages.
void PrintTo(TUpdateOutcome outcome, std::ostream *os)
{
    static const char *const names[] = {"Pending", "Unreachable", "PageFailed", "NameMissing", "NotANumber", "UpToDate",
        "Notified", "Downloaded", "DownloadFailed", "Aborted"};
    *os << names[static_cast<int>(outcome)];
}

namespace {

const QByteArray kPage = "/sluzhebnye-programmy";
const QByteArray kInstaller = "/sites/default/files/site_user/kestmanager_setup.exe";
constexpr int kWaitMs = 30000; // generous: two cores, sanitizers, other builds

QByteArray Installer(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + i / 251) & 0xFF);
    return bytes;
}

// One program run's worth of update check: settings, the notice window, a server, and everything
// that would leave the test (message boxes, opening the installer, ending the process) recorded.
struct TRig {
    TTestHttpServer server;
    QTemporaryDir home;
    std::unique_ptr<TConfigController> config;
    std::unique_ptr<TUpdate> form;
    QStringList events; // "message:<caption>:<text>", "open:<path>", "exit:<code>"
    TScopedMessageHandler messages{[this](QWidget *, const TMessageService::TMessage &m) {
        events << QStringLiteral("message:%1:%2").arg(m.caption, m.text);
        return QMessageBox::Ok;
    }};

    TRig()
    {
        config = std::make_unique<TConfigController>(home.path(), "/Valtrix", "KestManager", "/Settings.txt");
        form = std::make_unique<TUpdate>();
        form->SetConfig(config.get());
        TUpdateOptions options;
        options.appDataFolder = AppData();
        options.stallTimeoutMs = 60000;
        form->SetOptions(options);
        form->SetOpenHandler([this](const QString &path) { events << "open:" + path; });
        form->SetExitHandler([this](int code) { events << "exit:" + QString::number(code); });
    }

    QString AppData() const { return home.path() + "/appdata"; }
    QString Target() const { return AppData() + "/Update.exe"; }

    void Serve(const QByteArray &page, bool announceLength = true)
    {
        server.Route(kPage, {200, page, {}, TTestRoute::Whole, 0, announceLength});
    }

    void Start()
    {
        form->CheckNewVersion("KestManager", "1.18", server.Base() + QString::fromLatin1(kPage),
            server.Base() + QString::fromLatin1(kInstaller), nullptr);
    }

    TUpdateOutcome WaitOutcome()
    {
        PumpUntil([this] { return form->Thread()->Outcome() != TUpdateOutcome::Pending; }, kWaitMs);
        return form->Thread()->Outcome();
    }

    // Starts a check against a page that announces 1.19 and waits for the notice.
    bool ShowNotice()
    {
        Serve("<tr><td>KestManager 1.19</td></tr>");
        Start();
        return PumpUntil([this] { return form->isVisible(); }, kWaitMs);
    }

    QPushButton *Button(const char *name) const { return form->findChild<QPushButton *>(name); }
    QCheckBox *SkipBox() const { return form->findChild<QCheckBox *>("checkSkipUpdate"); }

    QByteArray SettingsText() const
    {
        QFile f(config->settingsPath);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QStringList AppDataFiles() const
    {
        return QDir(AppData()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    }
};

TEST(UpdateCheck, WhatThePageLeadsTo)
{
    struct Case {
        const char *name;
        QByteArray page;
        TUpdateOutcome outcome;
        const char *version;
        bool announceLength = true;
    };
    const QByteArray head = "<p>KestManager 9.99</p>";
    const QByteArray huge = head + QByteArray(3 * 1024 * 1024, 'x');
    const QByteArray limit = head + QByteArray(2 * 1024 * 1024 - head.size(), 'x');
    const Case cases[] = {
        {"newer", "<td>KestManager 1.19</td>", TUpdateOutcome::Notified, "1.19"},
        {"newer by 0.005", "<td>KestManager 1.185</td>", TUpdateOutcome::Notified, "1.185"},
        {"newer by 0.0005", "<td>KestManager 1.1805</td>", TUpdateOutcome::UpToDate, "1.1805"},
        {"no blank after the name", "<td>KestManager1.19</td>", TUpdateOutcome::UpToDate, ".19"},
        {"a word before the number", "<td>KestManager версия 1.19</td>", TUpdateOutcome::Notified, "1.19"},
        {"same version", "<td>KestManager 1.18</td>", TUpdateOutcome::UpToDate, "1.18"},
        {"no number", "<td>KestManager скоро</td>", TUpdateOutcome::NotANumber, ""},
        {"name missing", "<td>OtherProgram 9.9</td>", TUpdateOutcome::NameMissing, ""},
        {"empty page", "", TUpdateOutcome::PageFailed, ""},
        {"3 MiB page", huge, TUpdateOutcome::PageFailed, ""},
        {"3 MiB page of unannounced length", huge, TUpdateOutcome::PageFailed, "", false},
        {"2 MiB page", limit, TUpdateOutcome::Notified, "9.99"},
        {"2 MiB and one byte", limit + "x", TUpdateOutcome::PageFailed, ""},
        {"2 MiB and one byte, unannounced", limit + "x", TUpdateOutcome::PageFailed, "", false},
        {"page of unannounced length", "<td>KestManager 1.19</td>", TUpdateOutcome::Notified, "1.19", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TRig rig;
        rig.Serve(c.page, c.announceLength);
        rig.Start();
        EXPECT_EQ(rig.WaitOutcome(), c.outcome);
        const bool notify = c.outcome == TUpdateOutcome::Notified;
        EXPECT_EQ(PumpUntil([&] { return rig.form->isVisible(); }, notify ? kWaitMs : 200), notify);
        if (c.outcome != TUpdateOutcome::PageFailed) {
            EXPECT_EQ(rig.form->Thread()->Version, QString::fromUtf8(c.version));
        }
        EXPECT_TRUE(rig.events.isEmpty()) << rig.events.join('\n').toStdString();
        EXPECT_EQ(rig.server.RequestsFor(kPage), 1);
        EXPECT_EQ(rig.server.RequestsFor(kInstaller), 0);
        // Nothing is stored by the check itself.
        EXPECT_FALSE(rig.SettingsText().contains("UpdateTag"));
        rig.form->reject();
    }
}

TEST(UpdateCheck, PageRequestBypassesCaches)
{
    TRig rig;
    rig.Serve("<td>KestManager 1.18</td>");
    rig.Start();
    ASSERT_EQ(rig.WaitOutcome(), TUpdateOutcome::UpToDate);
    ASSERT_EQ(rig.server.Requests().size(), 1);
    const TTestRequest &r = rig.server.Requests().first();
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.headers.value("user-agent"), "KestManager/1.18 (update check)");
    EXPECT_TRUE(r.headers.value("cache-control").contains("no-cache"));
    EXPECT_EQ(r.headers.value("pragma"), "no-cache");
}

TEST(UpdateCheck, PageErrorsEndTheCheckSilently)
{
    struct Case {
        const char *name;
        TTestRoute route;
    };
    const Case cases[] = {
        {"not found", {404, "<td>KestManager 9.9</td>", {}, TTestRoute::Whole, 0}},
        {"server error", {500, "<td>KestManager 9.9</td>", {}, TTestRoute::Whole, 0}},
        {"cut short", {200, "<td>KestManager 9.9</td>" + QByteArray(5000, ' '), {}, TTestRoute::CutShort, 40}},
        {"redirect elsewhere", {302, "", {{"Location", "http://127.0.0.1:1/other"}}, TTestRoute::Whole, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TRig rig;
        rig.server.Route(kPage, c.route);
        rig.Start();
        EXPECT_EQ(rig.WaitOutcome(), TUpdateOutcome::PageFailed);
        PumpFor(100);
        EXPECT_FALSE(rig.form->isVisible());
        EXPECT_TRUE(rig.events.isEmpty());
    }
}

TEST(UpdateCheck, UnreachableServerShowsNothing)
{
    TRig rig;
    const QString closed = QStringLiteral("http://127.0.0.1:%1").arg(ClosedLoopbackPort());
    rig.form->CheckNewVersion(
        "KestManager", "1.18", closed + "/sluzhebnye-programmy", closed + QString::fromLatin1(kInstaller), nullptr);
    // The loopback host answers an echo where the system permits one, and then the page cannot be
    // read; where it does not, the TCP stand-in finds nobody listening.
    EXPECT_EQ(rig.WaitOutcome(), IcmpSocketsPermitted() ? TUpdateOutcome::PageFailed : TUpdateOutcome::Unreachable);
    PumpFor(100);
    EXPECT_FALSE(rig.form->isVisible());
    EXPECT_TRUE(rig.events.isEmpty());
    EXPECT_EQ(rig.form->Thread()->Mode(), TUpdateMode::None);
}

TEST(UpdateNotice, TheWindow)
{
    TRig rig;
    ASSERT_TRUE(rig.ShowNotice());
    TUpdate &w = *rig.form;
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Оповещение"));
    ASSERT_NE(w.findChild<QLabel *>("labelUpdate"), nullptr);
    EXPECT_EQ(w.findChild<QLabel *>("labelUpdate")->text(), QStringLiteral("Доступно обновление!"));
    ASSERT_NE(rig.Button("buttonDownload"), nullptr);
    ASSERT_NE(rig.Button("buttonCancel"), nullptr);
    ASSERT_NE(rig.SkipBox(), nullptr);
    EXPECT_EQ(rig.Button("buttonDownload")->text(), QStringLiteral("Скачать"));
    EXPECT_EQ(rig.Button("buttonCancel")->text(), QStringLiteral("Отмена"));
    EXPECT_EQ(rig.SkipBox()->text(), QStringLiteral("Больше не показывать"));
    EXPECT_FALSE(rig.SkipBox()->isChecked());
    EXPECT_TRUE(rig.Button("buttonDownload")->isEnabled());

    const Qt::WindowFlags flags = w.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(flags & Qt::CustomizeWindowHint);
    EXPECT_FALSE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinMaxButtonsHint);
    EXPECT_EQ(w.windowModality(), Qt::ApplicationModal);
    const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
    EXPECT_LE((w.geometry().center() - centre).manhattanLength(), 4);
    EXPECT_TRUE(w.GetFUpdate());
    rig.form->reject();
}

TEST(UpdateNotice, ButtonsAndTheUpdateTag)
{
    struct Case {
        const char *name;
        std::vector<bool> ticks; // the check box clicked this many times
        const char *button; // clicked last; "Esc" and "close" stand for the key and the close box
        bool closed;
        const char *stored; // "UpdateTag" line, or "" for none
        bool downloads;
    };
    const Case cases[] = {
        {"cancel", {}, "buttonCancel", true, "UpdateTag=1", false},
        {"never again, cancel", {true}, "buttonCancel", true, "UpdateTag=0", false},
        {"ticked and unticked, cancel", {true, false}, "buttonCancel", true, "UpdateTag=1", false},
        {"never again, download is disabled", {true}, "buttonDownload", false, "", false},
        {"ticked and unticked, download", {true, false}, "buttonDownload", true, "", true},
        {"download", {}, "buttonDownload", true, "", true},
        // Esc and the window's close box decline as "Отмена" does.
        {"never again, Esc", {true}, "Esc", true, "UpdateTag=0", false},
        {"never again, close box", {true}, "close", true, "UpdateTag=0", false},
        {"Esc", {}, "Esc", true, "UpdateTag=1", false},
        {"ticked and unticked, close box", {true, false}, "close", true, "UpdateTag=1", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TRig rig;
        rig.server.Route(kInstaller, {200, Installer(1000), {}, TTestRoute::Whole, 0});
        ASSERT_TRUE(rig.ShowNotice());
        for (bool tick : c.ticks) {
            QTest::mouseClick(rig.SkipBox(), Qt::LeftButton);
            EXPECT_EQ(rig.SkipBox()->isChecked(), tick);
            EXPECT_EQ(rig.form->skipUpdate, tick);
            EXPECT_EQ(rig.form->GetFUpdate(), !tick);
            EXPECT_EQ(rig.Button("buttonDownload")->isEnabled(), !tick);
        }
        if (std::strcmp(c.button, "Esc") == 0)
            QTest::keyClick(rig.form.get(), Qt::Key_Escape);
        else if (std::strcmp(c.button, "close") == 0)
            rig.form->close(); // what the window manager's close box sends
        else
            QTest::mouseClick(rig.Button(c.button), Qt::LeftButton);
        PumpFor(50);
        EXPECT_EQ(!rig.form->isVisible(), c.closed);
        if (*c.stored) {
            EXPECT_TRUE(rig.SettingsText().contains(c.stored)) << rig.SettingsText().constData();
        } else {
            EXPECT_FALSE(rig.SettingsText().contains("UpdateTag")) << rig.SettingsText().constData();
        }
        if (c.downloads) {
            EXPECT_TRUE(PumpUntil([&] { return rig.events.contains("exit:0"); }, kWaitMs));
            EXPECT_EQ(rig.server.RequestsFor(kInstaller), 1);
        } else {
            PumpFor(200);
            EXPECT_EQ(rig.server.RequestsFor(kInstaller), 0);
            EXPECT_TRUE(rig.events.isEmpty());
        }
        rig.form->reject();
    }
}

TEST(UpdateNotice, NeverAgainMeansNoCheckAtTheNextStart)
{
    TTestHttpServer server;
    server.Route(kPage, {200, "<td>KestManager 1.19</td>", {}, TTestRoute::Whole, 0});
    QTemporaryDir home;
    TConfigController config(home.path(), "/Valtrix", "KestManager", "/Settings.txt");
    config.ini.WriteString("Launch", "UpdateServer", server.Base());
    TScopedMessageHandler noBoxes([](QWidget *, const TMessageService::TMessage &) { return QMessageBox::Ok; });
    {
        // First start: the check runs against the configured server, and the user declines for good.
        TUpdate form;
        form.SetConfig(&config);
        ASSERT_TRUE(form.CheckAtStartUp(nullptr));
        ASSERT_TRUE(PumpUntil([&] { return form.isVisible(); }, kWaitMs));
        QTest::mouseClick(form.findChild<QCheckBox *>("checkSkipUpdate"), Qt::LeftButton);
        QTest::mouseClick(form.findChild<QPushButton *>("buttonCancel"), Qt::LeftButton);
        EXPECT_FALSE(config.ReadUpdateFlag());
    }
    EXPECT_EQ(server.RequestsFor(kPage), 1);
    {
        TUpdate form;
        form.SetConfig(&config);
        EXPECT_FALSE(form.CheckAtStartUp(nullptr));
        EXPECT_EQ(form.Thread(), nullptr);
        PumpFor(300);
    }
    EXPECT_EQ(server.RequestsFor(kPage), 1);
    // Without a settings store there is nothing to decide with.
    TUpdate bare;
    EXPECT_FALSE(bare.CheckAtStartUp(nullptr));
}

TEST(UpdateDownload, CompleteDownloadOpensTheInstallerAndEnds)
{
    struct Case {
        const char *name;
        bool redirected;
        bool announceLength;
    };
    for (const Case c : {Case{"direct", false, true}, Case{"redirected on the same server", true, true},
             Case{"length not announced", false, false}}) {
        SCOPED_TRACE(c.name);
        TRig rig;
        const QByteArray installer = Installer(700 * 1024);
        if (c.redirected) {
            rig.server.Route(kInstaller, {302, "", {{"Location", "/files/setup-1.19.exe"}}, TTestRoute::Whole, 0});
            rig.server.Route("/files/setup-1.19.exe", {200, installer, {}, TTestRoute::Whole, 0});
        } else {
            rig.server.Route(kInstaller, {200, installer, {}, TTestRoute::Whole, 0, c.announceLength});
        }
        ASSERT_TRUE(rig.ShowNotice());
        QTest::mouseClick(rig.Button("buttonDownload"), Qt::LeftButton);
        ASSERT_TRUE(PumpUntil([&] { return rig.events.size() >= 3; }, kWaitMs));
        EXPECT_EQ(
            rig.events, QStringList({"message:KestManager:Загрузка завершена.", "open:" + rig.Target(), "exit:0"}));
        QFile file(rig.Target());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_TRUE(file.readAll() == installer);
        EXPECT_EQ(rig.AppDataFiles(), QStringList({"Update.exe"}));
        EXPECT_EQ(rig.form->Thread()->Outcome(), TUpdateOutcome::Downloaded);
        EXPECT_EQ(rig.form->Thread()->Mode(), TUpdateMode::None);
        EXPECT_FALSE(rig.SettingsText().contains("UpdateTag"));
    }
}

TEST(UpdateDownload, FailedDownloadLeavesNoFileAndKeepsRunning)
{
    struct Case {
        const char *name;
        TTestRoute route;
    };
    const QByteArray installer = Installer(200 * 1024);
    const Case cases[] = {
        {"cut short", {200, installer, {}, TTestRoute::CutShort, 50 * 1024}},
        {"not found", {404, "gone", {}, TTestRoute::Whole, 0}},
        {"empty", {200, "", {}, TTestRoute::Whole, 0}},
        {"redirect to another port", {302, "", {{"Location", "http://127.0.0.1:1/setup.exe"}}, TTestRoute::Whole, 0}},
        {"redirect to a file", {302, "", {{"Location", "file:///etc/hostname"}}, TTestRoute::Whole, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        for (bool oldCopy : {false, true}) {
            TRig rig;
            if (oldCopy) {
                // An earlier download stays as it was: the broken one never replaces it.
                ASSERT_TRUE(QDir().mkpath(rig.AppData()));
                QFile old(rig.Target());
                ASSERT_TRUE(old.open(QIODevice::WriteOnly));
                old.write("old installer");
            }
            rig.server.Route(kInstaller, c.route);
            ASSERT_TRUE(rig.ShowNotice());
            QTest::mouseClick(rig.Button("buttonDownload"), Qt::LeftButton);
            ASSERT_TRUE(PumpUntil([&] { return !rig.events.isEmpty(); }, kWaitMs));
            PumpFor(100);
            EXPECT_EQ(rig.events, QStringList({"message:Ошибка:Не удалось загрузить обновление."}));
            EXPECT_EQ(rig.form->Thread()->Outcome(), TUpdateOutcome::DownloadFailed);
            EXPECT_EQ(rig.AppDataFiles(), oldCopy ? QStringList({"Update.exe"}) : QStringList());
            if (oldCopy) {
                QFile old(rig.Target());
                ASSERT_TRUE(old.open(QIODevice::ReadOnly));
                EXPECT_EQ(old.readAll(), QByteArray("old installer"));
            }
        }
    }
}

TEST(UpdateQuit, QuittingMidCheckEndsTheThreadPromptly)
{
    struct Case {
        const char *name;
        TTestRoute page;
        TTestRoute installer;
        bool download;
    };
    const QByteArray installer = Installer(100 * 1024);
    const Case cases[] = {
        {"page never answered", {200, "", {}, TTestRoute::Stall, 0}, {}, false},
        {"page stalls halfway", {200, "KestManager 1.19 " + QByteArray(9000, ' '), {}, TTestRoute::StallInBody, 100},
            {}, false},
        {"notice on screen", {200, "<td>KestManager 1.19</td>", {}, TTestRoute::Whole, 0}, {}, false},
        {"download stalls", {200, "<td>KestManager 1.19</td>", {}, TTestRoute::Whole, 0},
            {200, installer, {}, TTestRoute::StallInBody, 10 * 1024}, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TRig rig;
        rig.server.Route(kPage, c.page);
        rig.server.Route(kInstaller, c.installer);
        rig.Start();
        if (c.page.behaviour == TTestRoute::Whole) {
            ASSERT_TRUE(PumpUntil([&] { return rig.form->isVisible(); }, kWaitMs));
            if (c.download) {
                QTest::mouseClick(rig.Button("buttonDownload"), Qt::LeftButton);
                ASSERT_TRUE(PumpUntil([&] { return rig.server.RequestsFor(kInstaller) == 1; }, kWaitMs));
            }
        } else {
            ASSERT_TRUE(PumpUntil([&] { return rig.server.RequestsFor(kPage) == 1; }, kWaitMs));
        }
        PumpFor(200); // let the transfer settle into its wait
        EXPECT_TRUE(rig.form->Thread()->isRunning());
        QElapsedTimer clock;
        clock.start();
        rig.form.reset(); // the main window closes
        // The stall time-out is a minute: only an aborted wait ends this quickly.
        EXPECT_LT(clock.elapsed(), 15000);
        PumpFor(100);
        EXPECT_TRUE(rig.events.isEmpty()) << rig.events.join('\n').toStdString();
        EXPECT_FALSE(QFile::exists(rig.Target()));
        EXPECT_TRUE(rig.AppDataFiles().isEmpty()) << rig.AppDataFiles().join(' ').toStdString();
    }
}

TEST(UpdateQuit, QuittingWhileTheServerIsProbed)
{
    TBlackHolePort hole;
    if (!hole.Ok())
        GTEST_SKIP() << "this system completes connections beyond a full listen queue";
    TRig rig;
    TUpdateOptions options;
    options.appDataFolder = rig.AppData();
    options.probe.method = TProbeMethod::Tcp;
    options.probe.timeoutMs = 60000;
    rig.form->SetOptions(options);
    const QString server = QStringLiteral("http://127.0.0.1:%1").arg(hole.Port());
    rig.form->CheckNewVersion(
        "KestManager", "1.18", server + "/sluzhebnye-programmy", server + QString::fromLatin1(kInstaller), nullptr);
    PumpFor(300);
    ASSERT_TRUE(rig.form->Thread()->isRunning());
    EXPECT_EQ(rig.form->Thread()->Outcome(), TUpdateOutcome::Pending);
    QElapsedTimer clock;
    clock.start();
    rig.form->StopCheck();
    EXPECT_LT(clock.elapsed(), 15000);
    EXPECT_TRUE(rig.form->Thread()->isFinished());
    EXPECT_EQ(rig.form->Thread()->Outcome(), TUpdateOutcome::Aborted);
}

} // namespace
