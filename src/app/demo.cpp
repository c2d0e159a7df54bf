#include "app/demo.h"

#include <csignal>

#include <sys/prctl.h>

namespace KestDemo {

const std::vector<TInjectedError> &InjectedErrors()
{
    // Phase A's voltage and phase B's current within the default 0,2 %, phase C's current beyond it
    // (and with it the active and apparent power of phase C).
    static const std::vector<TInjectedError> errors = {
        {"Ua", 1, 0.1},
        {"Ib", 5, -0.15},
        {"Ic", 6, 0.3},
    };
    return errors;
}

TVoltageRange Voltage()
{
    return TVoltageRange::V100;
}

QStringList SimulatorArguments()
{
    // The coefficients are the defaults of "KU1"/"KU2" and "KI1"/"KI2": primary equals secondary.
    QStringList args{"--device-type", "QX4", "--command", "coefs 100 100 5 5"};
    for (const TInjectedError &e : InjectedErrors())
        args << "--command" << QStringLiteral("error %1 %2").arg(QString::fromLatin1(e.quantity)).arg(e.gainPercent);
    return args;
}

bool StartSimulator(QProcess &sim, const QString &program, QString &installation, QString &device, QString &error)
{
    if (program.isEmpty()) {
        error = QStringLiteral("kest-sim не найден рядом с программой и в PATH");
        return false;
    }
    sim.setProgram(program);
    sim.setArguments(SimulatorArguments());
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // Should this program die without cleaning up, the simulator goes with it.
    sim.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    sim.start();
    if (!sim.waitForStarted(5000)) {
        error = QStringLiteral("kest-sim не запустился");
        return false;
    }
    QByteArray out;
    while (installation.isEmpty() || device.isEmpty()) {
        if (!sim.waitForReadyRead(5000)) {
            error = QStringLiteral("kest-sim не сообщил свои порты");
            return false;
        }
        out += sim.readAllStandardOutput();
        for (const QByteArray &line : out.split('\n')) {
            if (line.startsWith("installation: "))
                installation = QString::fromUtf8(line.mid(14)).trimmed();
            else if (line.startsWith("device: "))
                device = QString::fromUtf8(line.mid(8)).trimmed();
        }
    }
    return true;
}

} // namespace KestDemo
