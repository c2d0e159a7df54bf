#include "presentation/controls/numericupdown.h"

#include "config/configcontroller.h"
#include "presentation/controls/customactionbutton.h"
#include "presentation/controls/form4.h"
#include "presentation/controls/numberentryvalidator.h"
#include "protocol/numberformat.h"

#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QToolButton>

#include <algorithm>
#include <cmath>

TUpDownButtons::TUpDownButtons(QWidget *parent) : QWidget(parent)
{
    up = new QToolButton(this);
    up->setObjectName(QStringLiteral("UpButton"));
    up->setArrowType(Qt::UpArrow);
    down = new QToolButton(this);
    down->setObjectName(QStringLiteral("DownButton"));
    down->setArrowType(Qt::DownArrow);
    for (QToolButton *button : {up, down}) {
        button->setAutoRepeat(true);
        button->setFocusPolicy(Qt::NoFocus);
    }
    connect(up, &QToolButton::clicked, this, &TUpDownButtons::Up);
    connect(down, &QToolButton::clicked, this, &TUpDownButtons::Down);
}

void TUpDownButtons::resizeEvent(QResizeEvent *)
{
    const int half = height() / 2;
    up->setGeometry(0, 0, width(), half);
    down->setGeometry(0, half, width(), height() - half);
}

TNumericUpDown::TNumericUpDown(QWidget *parent, const QString &caption) : QFrame(parent), FText(caption)
{
    setFixedSize(kWidth, kHeight);

    textControl = new QLabel(FText, this);
    textControl->setObjectName(QStringLiteral("TextControl"));
    textControl->setGeometry(1, 0, 100, 14);

    valueControl = new QLineEdit(this);
    valueControl->setObjectName(QStringLiteral("ValueControl"));
    valueControl->setGeometry(1, 14, 81, 21);
    valueControl->setValidator(new TNumberEntryValidator(valueControl));
    valueControl->setContextMenuPolicy(Qt::CustomContextMenu);
    valueControl->installEventFilter(this);
    connect(valueControl, &QLineEdit::customContextMenuRequested, this,
        [this](const QPoint &pos) { ShowStepMenu(valueControl->mapToGlobal(pos)); });

    upDownControl = new TUpDownButtons(this);
    upDownControl->setObjectName(QStringLiteral("UpDownControl"));
    upDownControl->setGeometry(82, 14, 16, 21);
    connect(upDownControl, &TUpDownButtons::Up, this, &TNumericUpDown::StepUp);
    connect(upDownControl, &TUpDownButtons::Down, this, &TNumericUpDown::StepDown);

    uploadControl = new TCustomActionButton(this);
    uploadControl->setObjectName(QStringLiteral("UploadControl"));
    uploadControl->move(102, 16);
    uploadControl->SetValueReference(&FValue);
    // The button's own value is read before the typed text is taken; Upload commits first.
    uploadControl->SetAction([this](double) { Upload(); });

    SetValue(0);
}

TNumericUpDown::~TNumericUpDown()
{
    // The edit's focus-out during destruction must not commit into a half-destroyed control.
    valueControl->removeEventFilter(this);
}

void TNumericUpDown::SetCaption(const QString &text)
{
    FText = text;
    textControl->setText(text);
}

void TNumericUpDown::SetValue(double x)
{
    if (x > FMax)
        x = FMax;
    if (!std::isfinite(x))
        x = 0;
    FValue = x;
    valueControl->setText(FloatToQStr(FValue));
}

void TNumericUpDown::SetAction(TAction action)
{
    actionOnUpDown = std::move(action);
}

void TNumericUpDown::SetEnabled(bool value)
{
    valueControl->setEnabled(value);
    upDownControl->setEnabled(value);
    uploadControl->setEnabled(value);
}

void TNumericUpDown::SetEditColor(const QColor &color)
{
    QPalette pal = valueControl->palette();
    pal.setColor(QPalette::Base, color);
    valueControl->setPalette(pal);
}

void TNumericUpDown::InitAppConfigAndStepSetter(TConfigController *_appConfig)
{
    appConfig = _appConfig;
    delete setter;
    setter = new TForm4(this, appConfig);
    FStep = 1;
}

double TNumericUpDown::Step() const
{
    const double step = appConfig ? appConfig->ReadTag(TForm4::kIncrements, FText) : FStep;
    return std::isfinite(step) && step > 0 ? step : 1.0;
}

double TNumericUpDown::TypedValue() const
{
    double typed = 0;
    if (!TryStrToFloat(valueControl->text(), typed))
        typed = 0;
    if (typed < FMin)
        typed = FMin;
    return typed;
}

void TNumericUpDown::Commit()
{
    SetValue(TypedValue());
}

void TNumericUpDown::StepUp()
{
    Commit();
    SetValue(std::min(FValue + Step(), FMax));
    RunAction();
}

void TNumericUpDown::StepDown()
{
    double value = TypedValue();
    if (value > FMax) {
        value = FMax;
    } else if (value != FMin) {
        // Two decimals keep repeated steps from collecting binary noise (0,3 − 0,1 − 0,1 …).
        value = std::round((value - Step()) * 100.0) / 100.0;
        if (!(value > FMin)) // also turns a rounded −0 into the minimum
            value = FMin;
    }
    SetValue(value);
    RunAction();
}

void TNumericUpDown::Upload()
{
    Commit();
    RunAction();
}

void TNumericUpDown::RunAction()
{
    if (actionOnUpDown) {
        // The action may replace itself (the windows rebind controls); run a copy.
        const TAction action = actionOnUpDown;
        action(FValue);
    }
}

void TNumericUpDown::ShowStepMenu(const QPoint &globalPos)
{
    if (!setter || !valueControl->isEnabled())
        return;
    if (!stepMenu) {
        stepMenu = new QMenu(this);
        stepMenu->setObjectName(QStringLiteral("StepMenu"));
        QAction *change = stepMenu->addAction(kStepMenuText);
        connect(change, &QAction::triggered, this, [this] {
            if (!setter)
                return;
            setter->SetParameterName(FText);
            setter->move(stepMenuPos);
            setter->show();
            setter->raise();
            setter->Edit()->setFocus();
        });
    }
    stepMenuPos = globalPos;
    stepMenu->popup(globalPos);
}

bool TNumericUpDown::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == valueControl && event->type() == QEvent::FocusOut)
        Commit();
    return QFrame::eventFilter(watched, event);
}
