// Every way a verification run can end leaves the installation off: a matrix of endings × tab kinds, run
// against kest-sim over pseudo-terminals, judged by what kest-sim itself delivers (not by what the
// program believes). Where the installation is silent, the program must say it could not confirm, and
// the first frames the installation gets once it answers again are the switch-off.
#include <gtest/gtest.h>

#include <QTimer>

#include "protocol/switchoff.h"
#include "runtesthelpers.h"
#include "verification/avtopoverkaconfig.h"

using namespace runtest;

namespace {

enum class Ending {
    Normal, // the last point
    StopInWait, // "Стоп" during the measuring time
    StopAnswered, // "Стоп" while an exchange is on the line that will be answered
    StopFailing, // "Стоп" while an exchange is on the line that will fail (re-sends and all)
    TransducerSilent, // the transducer behind the relay stops answering after the first reading
    RefusedControl, // the installation answers the remote-control write with an exception
    WrongEcho, // ... with something that is not its echo
    WindowClosed, // the window closes mid-run
    SilentThenBack, // the installation falls silent for good mid-run, comes back later
};

struct TCell {
    const char *name;
    Ending ending;
    bool rsOnly;
};

const TCell kCells[] = {
    {"normal end", Ending::Normal, false},
    {"stop in a wait", Ending::StopInWait, false},
    {"stop, answered exchange in flight", Ending::StopAnswered, false},
    {"stop, failing exchange in flight", Ending::StopFailing, false},
    {"transducer silent behind the relay", Ending::TransducerSilent, true},
    {"remote control refused", Ending::RefusedControl, false},
    {"wrong echo of remote control", Ending::WrongEcho, false},
    {"window closed mid-run", Ending::WindowClosed, false},
    {"installation silent, then back", Ending::SilentThenBack, false},
};

// Register and function of each request kest-sim received from index `from` on.
std::vector<std::string> RequestsFrom(kestsim::KestSimulator &sim, size_t from)
{
    std::vector<std::string> out;
    const auto frames = InstallationRequests(sim);
    for (size_t k = from; k < frames.size(); ++k)
        out.push_back(std::to_string(Register(frames[k])) + ":" + std::to_string(frames[k][1]));
    return out;
}

int CountOf(kestsim::KestSimulator &sim, int reg)
{
    int n = 0;
    for (const auto &f : InstallationRequests(sim))
        n += Register(f) == reg ? 1 : 0;
    return n;
}

const std::vector<std::string> kRunSwitchOff{"124:16", "100:16", "0:6"}; // current 0, voltage 0, release

} // namespace

TEST(VerificationSafety, EveryEndingOfEveryTabKindLeavesTheInstallationOff)
{
    TScopedWaitScale scale(0.05);
    for (const bool analog : {false, true}) {
        for (const TCell &cell : kCells) {
            if (analog && cell.rsOnly)
                continue;
            SCOPED_TRACE(std::string(analog ? "analog tab: " : "RS tab: ") + cell.name);
            TBench b("QX4", TConfigurationCode::QX4);
            ASSERT_TRUE(b.started) << b.startError;
            {
                TDeviceSettingsConfig d(b.store.get());
                d.WriteKU1(QStringLiteral("100"));
                d.WriteKU2(QStringLiteral("100"));
                d.WriteKI1(QStringLiteral("5"));
                d.WriteKI2(QStringLiteral("5"));
                TConfigQX4 config(b.store.get());
                config.WriteTabOutputSet(0, {"1", "4"});
                if (analog) {
                    config.WriteInterfaceValues({"-1"});
                    config.WriteTabOutputAnalogPortSet(0, {"1"});
                    config.WriteTabOutputAnalogParamSet(0, {"1", "0", "0"});
                }
            }
            TAvtopoverkaLogic &logic = b.Open();
            logic.VoltageChosen(TVoltageRange::V100);
            b.AddPoints(0, {{5, 57.74, 0, 50}, {2, 50, 0, 50}, {1, 40, 0, 50}});
            // Short time-outs: a failing exchange with its re-sends takes about a second.
            logic.Driver().SetResponseTimeOut(250);
            const QString port = QString::fromStdString(b.sim->InstallationPath());
            int seenAtPoint = -1; // requests to the awaited register when the first point was filled

            switch (cell.ending) {
            case Ending::RefusedControl:
                b.sim->Command("fault exception:1@0#4");
                break;
            case Ending::WrongEcho:
                b.sim->Command("fault wrongecho@0#1");
                break;
            case Ending::TransducerSilent:
                b.observer.onPoint = [&](const TMeasuredPoint &) { b.sim->Command("fault noanswer@1996"); };
                break;
            case Ending::StopAnswered:
                b.observer.onPoint = [&](const TMeasuredPoint &) {
                    if (b.observer.points.size() == 1) {
                        seenAtPoint = CountOf(*b.sim, 142);
                        b.sim->Command("fault delay:600@142#1");
                    }
                };
                break;
            case Ending::StopFailing:
            case Ending::WindowClosed:
                // The next status read is lost, re-sends and all.
                b.observer.onPoint = [&](const TMeasuredPoint &) {
                    if (b.observer.points.size() == 1) {
                        seenAtPoint = CountOf(*b.sim, 994);
                        b.sim->Command("fault noanswer@994#4");
                    }
                };
                break;
            case Ending::SilentThenBack:
                b.observer.onPoint = [&](const TMeasuredPoint &) { b.sim->Command("fault noanswer"); };
                break;
            default:
                break;
            }
            int waits = 0;
            const auto previous = TWaitService::SetObserver([&](int, const QString &purpose) {
                if (cell.ending == Ending::StopInWait && purpose == TRunDriver::kWaitMeasuring && ++waits == 2)
                    QTimer::singleShot(0, [&] { logic.StopClicked(); });
            });
            ASSERT_TRUE(logic.StartCurrentTab());

            if (cell.ending == Ending::StopAnswered || cell.ending == Ending::StopFailing
                || cell.ending == Ending::WindowClosed) {
                // After the first point, the awaited request reaches the installation: act now.
                const int reg = cell.ending == Ending::StopAnswered ? 142 : 994;
                ASSERT_TRUE(PumpUntil([&] { return seenAtPoint >= 0 && CountOf(*b.sim, reg) > seenAtPoint; }, 20000));
                // The request is on the line and its answer held back or lost.
                EXPECT_TRUE(logic.Driver().Engine().IsWaiting());
                if (cell.ending == Ending::WindowClosed)
                    logic.Closing(0, 0);
                else
                    logic.StopClicked();
            }
            ASSERT_TRUE(b.RunToEnd(60000));
            TWaitService::SetObserver(previous);
            ASSERT_FALSE(b.observer.ends.empty());
            const TRunEnd &end = b.observer.ends.back();
            EXPECT_FALSE(b.view.Locked());

            if (cell.ending == Ending::SilentThenBack) {
                // Not confirmed, and said so.
                EXPECT_FALSE(end.outputsOff);
                EXPECT_TRUE(end.error.contains(QStringLiteral("Выходы установки не удалось выключить")))
                    << end.error.toStdString();
                EXPECT_TRUE(TOutputsLedger::IsOn(port));
                // Back: the next run's first frames are the switch-off, before remote control.
                b.sim->Command("clear-faults");
                const size_t from = InstallationRequests(*b.sim).size();
                b.observer.onPoint = nullptr;
                ASSERT_TRUE(logic.StartCurrentTab());
                ASSERT_TRUE(b.RunToEnd(60000));
                const auto after = RequestsFrom(*b.sim, from);
                ASSERT_GE(after.size(), 4u);
                EXPECT_EQ(std::vector<std::string>(after.begin(), after.begin() + 4),
                    (std::vector<std::string>{"124:16", "100:16", "0:6", "0:16"}));
                EXPECT_TRUE(b.observer.ends.back().outputsOff);
            } else {
                EXPECT_TRUE(end.outputsOff) << end.error.toStdString();
                const bool normal = cell.ending == Ending::Normal || cell.ending == Ending::TransducerSilent;
                EXPECT_EQ(end.outcome == TRunOutcome::Finished, normal) << end.error.toStdString();
                if (cell.ending == Ending::WrongEcho)
                    EXPECT_TRUE(end.error.contains(QStringLiteral("дистанционное управление")))
                        << end.error.toStdString();
                // The run's own sequence ends what reached the installation.
                const auto all = RequestsFrom(*b.sim, 0);
                ASSERT_GE(all.size(), 3u);
                EXPECT_EQ(std::vector<std::string>(all.end() - 3, all.end()), kRunSwitchOff);
            }
            PumpFor(100);
            EXPECT_TRUE(OutputsOff(*b.sim));
            EXPECT_FALSE(TOutputsLedger::IsOn(port));
            EXPECT_FALSE(logic.Driver().Engine().IsOpen());
        }
    }
}
