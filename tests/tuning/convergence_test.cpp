// Tuning on a transducer that behaves like a real one: readings with noise, every change written
// settling with a lag, angle and offset steps with a dead band and a little non-linearity, and gain errors drawn
// per case. Every combination of transformation coefficients, modification (either side of 9), range
// pair and analog stage runs at once, each against its own simulator; afterwards each transducer is
// checked straight at the simulator, with the installation energised again and the noise off.
#include "tuningtestutil.h"

#include "realtransducer.h"

using namespace tuningtest;
using namespace realtransducer;

namespace {

// Settling waits at a tenth of their prescribed length and the device's time constant with them: the
// shortest wait (the analog ones) is still five time constants, the time between two exchanges about
// one, so that a wait left out shows.
constexpr double kWaitScale = 0.1;

struct TuningRun {
    TuningCase c;
    std::unique_ptr<kestsim::KestSimulator> sim;
    std::unique_ptr<TConfigController> config;
    TRecorder rec;
    std::unique_ptr<TAutoTuning> tuning;

    std::string Trace() const { return c.Name() + "\n" + rec.log.join(QLatin1Char('\n')).toStdString(); }
};

} // namespace

TEST(TuningConvergence, RealisticTransducerEveryCoefficientModificationRangeAndStage)
{
    TScopedWaitScale scale{kWaitScale};
    struct Range {
        double lineVoltage, current;
    };
    // Every voltage and every current range at least once.
    const Range ranges[] = {{100, 0.5}, {380, 1}, {400, 2.5}, {100, 5}};
    std::vector<std::unique_ptr<TuningRun>> runs;
    uint64_t seed = 2600;
    for (bool ratio : {true, false})
        for (int modification : {9, 10})
            for (size_t r = 0; r < std::size(ranges); ++r)
                for (bool analog : {false, true}) {
                    auto run = std::make_unique<TuningRun>();
                    run->c.ratio = ratio;
                    run->c.modification = modification;
                    run->c.lineVoltage = ranges[r].lineVoltage;
                    run->c.current = ranges[r].current;
                    run->c.analog = analog;
                    run->c.analogType = int(r % 2);
                    run->c.seed = ++seed;
                    runs.push_back(std::move(run));
                }

    for (auto &run : runs) {
        kestsim::SimOptions o;
        o.announce = false;
        o.turnaroundMs = 1;
        o.seed = run->c.seed;
        o.commands = SimCommands(run->c, kRealLagMs * kWaitScale);
        run->sim = std::make_unique<kestsim::KestSimulator>(o);
        std::string error;
        ASSERT_TRUE(run->sim->Start(&error)) << error;
        run->config = std::make_unique<TConfigController>(
            KestTestHome::NewFolder(), "/Valtrix", "/KestManager", "/Settings.txt");
        run->config->WritePort("Port1", QString::fromStdString(run->sim->InstallationPath()));
        run->config->WritePort("Port2", QString::fromStdString(run->sim->DevicePath()));
        WriteCoefficients(*run->config, run->c);
        run->tuning = std::make_unique<TAutoTuning>(&run->rec);
        run->tuning->AddObserver(&run->rec);
        run->tuning->SetBeep(nullptr);
        run->tuning->InitKestCommunication(run->config.get());
        run->tuning->InitDeviceCommunication();
        run->tuning->CoefficientsEdited();
        run->tuning->AnalogToggled(run->c.analog);
        run->tuning->AnalogTypeChosen(run->c.analogType);
    }
    for (auto &run : runs)
        run->tuning->StartClicked();
    const bool ended = PumpUntil(
        [&] {
            for (auto &run : runs)
                if (!run->rec.outcome)
                    return false;
            return true;
        },
        400000);
    ASSERT_TRUE(ended);

    for (auto &run : runs) {
        SCOPED_TRACE(run->c.Name());
        EXPECT_EQ(run->rec.outcome->end, TTuningEnd::Done) << run->Trace();
        if (run->rec.outcome->end != TTuningEnd::Done)
            continue;
        EXPECT_TRUE(run->rec.outcome->outputsOff);
        EXPECT_TRUE(run->rec.errors.isEmpty()) << run->rec.errors.join('|').toStdString();
        EXPECT_TRUE(OutputsZero(*run->sim));
        EXPECT_EQ(Fields(run->sim->Command("memory")).at("modification"), 700 + run->c.modification);
        EXPECT_EQ(MeasureAtSimulator(*run->sim, run->c).Faults(), "") << run->Trace();
    }
}
