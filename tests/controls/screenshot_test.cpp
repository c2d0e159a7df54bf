// Renders a panel with every control to controls_panel.png in the build folder (and a three
// times larger copy, controls_panel_x3.png), so that a person can look at them, and checks the
// colours that matter on it: the red error field and the toggle pictures.

#include "config/configcontroller.h"
#include "presentation/controls/customactionbutton.h"
#include "presentation/controls/floatspinedit.h"
#include "presentation/controls/form4.h"
#include "presentation/controls/labelanderror.h"
#include "presentation/controls/numericupdownwithtoggles.h"
#include "presentation/controls/parametergroupcomponent.h"
#include "presentation/controls/windowscolor.h"
#include "protocol/parameters.h"
#include "testfolder.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

QString OutputFolder()
{
    const char *binary = std::getenv("KEST_BINARY_DIR");
    return binary && *binary ? QString::fromLocal8Bit(binary) : QDir::currentPath();
}

template<typename T> T *Place(QWidget *panel, T *control, int x, int y, const QString &title)
{
    auto *label = new QLabel(title, panel);
    QFont small = label->font();
    small.setPixelSize(10);
    label->setFont(small);
    label->setStyleSheet("color: #555");
    label->setGeometry(x, y, 200, 12);
    control->setParent(panel);
    control->move(x, y + 14);
    return control;
}

bool IsRed(QColor c)
{
    return c.red() > 220 && c.green() < 40 && c.blue() < 40;
}

TEST(ControlsScreenshot, PanelOfEveryControl)
{
    TTestFolder home;
    TConfigController config(home.dir.path(), "/Valtrix", "KestManager", "/Settings.txt");
    config.WriteTag("Increments", "Угол", 15);

    QWidget panel;
    panel.setFixedSize(520, 330);
    panel.setAutoFillBackground(true);

    auto *current = Place(&panel, new TNumericUpDownWithToggles(nullptr, "I"), 10, 10, "TNumericUpDownWithToggles");
    current->SetToggle1("Ia", nullptr);
    current->SetToggle2("Ib", nullptr);
    current->SetToggle3("Ic", nullptr);
    current->SetMax(6.25);
    current->SetValue(5);
    current->SetEnabled(true);
    current->GetToggle("Ib")->SwitchState(); // phase B confirmed off

    auto *voltage = Place(&panel, new TNumericUpDownWithToggles(nullptr, "U"), 190, 10, "… one toggle");
    voltage->SetToggle1(" ", nullptr);
    voltage->SetMax(274.2375);
    voltage->SetValue(57.74);
    voltage->SetEnabled(true);

    auto *angle = Place(&panel, new TNumericUpDown(nullptr, "Угол"), 350, 10, "TNumericUpDown");
    angle->InitAppConfigAndStepSetter(&config);
    angle->SetMax(360);
    angle->SetValue(120);

    auto *frequency = Place(&panel, new TNumericUpDown(nullptr, "F"), 10, 80, "… coloured edit");
    frequency->SetMin(45);
    frequency->SetMax(65);
    frequency->SetValue(50);
    frequency->SetEditColor(ColorFromWindows(7504122));

    auto *address = Place(&panel, new TNumericUpDown(nullptr, "Адр."), 190, 80, "… disabled");
    address->SetValue(1);
    address->SetEnabled(false);

    auto *pressed = Place(&panel, new TCustomActionButton(nullptr), 350, 80, "button held / toggle off");
    QTest::mousePress(pressed, Qt::LeftButton); // shows "arrow2.jpg"
    auto *loose = new TToggle(&panel);
    loose->move(380, 94);
    loose->SetEnabled(true);
    loose->SwitchState();

    TDeviceInfo devinfo;
    devinfo.transfCoefs = {100, 5, 10000, 100};
    auto *ua = Place(&panel, new TParameterGroupComponent, 10, 140, "TParameterGroup…");
    ua->SetParameter("Ua");
    ua->SetMeasure("V");
    ua->SetParamNumber(1);
    ua->SetValue(57.735);
    ua->SetValueRsAndErrorQX4(devinfo, 0.5, 0.12, 5773.9);

    auto *uab = Place(&panel, new TParameterGroupComponent, 130, 140, "… error too big");
    uab->SetParameter("Uab");
    uab->SetMeasure("V");
    uab->SetParamNumber(7);
    uab->SetValue(100.2);
    uab->SetValueRsAndErrorQX4(devinfo, 0.5, 0.75, 10070);

    auto *ia = Place(&panel, new TParameterGroupComponent, 250, 140, "… SetDashes");
    ia->SetParameter("Ia");
    ia->SetMeasure("A");
    ia->SetDashes();

    auto *analog = Place(&panel, new TParameterGroupComponent, 370, 140, "… analog");
    analog->SetParameter("Ia");
    analog->SetMeasure1("A");
    analog->SetMeasure2("mA");
    analog->SetInterfaceCaption("Ан.");
    analog->SetValue(2.5);
    analog->SetAnalogValueAndError(0.5, 12.04, 0.2);

    auto *error = Place(&panel, new TLabelAndError, 10, 240, "TLabelAndError");
    error->SetParamName("P");
    error->SetError(-0.1234);

    auto *spin = Place(&panel, new TFloatSpinEdit, 130, 240, "TFloatSpinEdit (units)");
    spin->SetUnites("A|1|1|mA|1000|1");
    spin->SetCurrentUnit(1);
    spin->SetValue(1.5);
    spin->resize(110, spin->sizeHint().height());
    auto *step = Place(&panel, new TFloatSpinEdit, 250, 240, "… auto-increment step");
    step->SetIncrement(0.5);
    step->SetValue(0.5);
    step->resize(80, step->sizeHint().height());

    panel.show();
    QImage image = panel.grab().toImage();

    // The step setter is a window of its own; it is drawn into the picture where it would open.
    TForm4 *setter = angle->StepSetter();
    setter->SetParameterName("Угол");
    const QPoint setterAt(370, 280);
    {
        QPainter painter(&image);
        painter.setPen(QColor(85, 85, 85));
        QFont small = painter.font();
        small.setPixelSize(10);
        painter.setFont(small);
        painter.drawText(setterAt + QPoint(0, -4), "TForm4 (step setter)");
        painter.drawImage(setterAt, setter->grab().toImage());
        painter.setPen(Qt::black);
        painter.drawRect(QRect(setterAt, setter->size()).adjusted(0, 0, -1, -1));
    }

    const QString path = OutputFolder() + "/controls_panel.png";
    ASSERT_TRUE(image.save(path)) << path.toStdString();
    ASSERT_TRUE(image.scaled(image.size() * 3, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                    .save(OutputFolder() + "/controls_panel_x3.png"));
    std::printf("panel written to %s\n", qPrintable(path));

    // What the picture must show.
    auto at = [&](QWidget *w, QPoint p) { return image.pixelColor(w->mapTo(&panel, p)); };
    EXPECT_TRUE(IsRed(at(uab->ErrorField(), QPoint(4, 9))));
    EXPECT_FALSE(IsRed(at(ua->ErrorField(), QPoint(4, 9))));
    EXPECT_EQ(at(frequency->ValueControl(), QPoint(frequency->ValueControl()->width() - 4, 4)), QColor(250, 128, 114));
    EXPECT_EQ(setter->findChild<QLineEdit *>("StepEdit")->text(), "15");

    // Toggles on show green below the knob, the one switched off shows grey there.
    const QColor onSlot = at(current->GetToggle("Ia"), QPoint(5, 15));
    const QColor offSlot = at(current->GetToggle("Ib"), QPoint(5, 5));
    EXPECT_GT(onSlot.green(), onSlot.red() + 60);
    EXPECT_LT(std::abs(offSlot.green() - offSlot.red()), 30);
    EXPECT_LT(offSlot.red(), 190);
    // The held button shows the darker "arrow2.jpg" face.
    const QColor held = at(pressed, QPoint(2, 14));
    const QColor rest = at(current->UploadControl(), QPoint(2, 14));
    EXPECT_LT(held.red(), rest.red());
}

} // namespace
