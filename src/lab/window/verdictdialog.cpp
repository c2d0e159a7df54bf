#include "lab/window/verdictdialog.h"

#include "lab/window/dialogbuttons.h"
#include "presentation/controls/messageservice.h"
#include "presentation/controls/windowscolor.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

TVerdictDialog::TVerdictDialog(const TVerdict &computed, const QString &who, QWidget *parent)
    : QDialog(parent), computed_(computed), who_(who)
{
    setObjectName(QStringLiteral("TVerdictDialog"));
    setWindowTitle(QStringLiteral("Заключение"));
    auto *text = new QLabel(QStringLiteral("Заключение: ") + computed.Text(), this);
    text->setObjectName(QStringLiteral("verdictText"));
    QFont bold = text->font();
    bold.setBold(true);
    text->setFont(bold);
    if (!computed.fit) {
        QPalette palette = text->palette();
        palette.setColor(QPalette::WindowText, ColorFromWindows(kWindowsRed));
        text->setPalette(palette);
    }
    auto *reasons = new QPlainTextEdit(computed.reasons.join(QLatin1Char('\n')), this);
    reasons->setObjectName(QStringLiteral("reasons"));
    reasons->setReadOnly(true);
    reasons->setVisible(!computed.reasons.isEmpty());

    auto *replace = new QGroupBox(QStringLiteral("Заключение поверителя"), this);
    fit_ = new QRadioButton(QStringLiteral("пригоден"), replace);
    fit_->setObjectName(QStringLiteral("fitButton"));
    unfit_ = new QRadioButton(QStringLiteral("непригоден"), replace);
    unfit_->setObjectName(QStringLiteral("unfitButton"));
    (computed.fit ? fit_ : unfit_)->setChecked(true);
    auto *group = new QButtonGroup(this);
    group->addButton(fit_);
    group->addButton(unfit_);
    reason_ = new QPlainTextEdit(this);
    reason_->setObjectName(QStringLiteral("overrideReason"));
    reason_->setPlaceholderText(QStringLiteral("Причина замены заключения"));
    reason_->setMaximumHeight(80);
    auto *replaceLayout = new QVBoxLayout(replace);
    auto *radios = new QHBoxLayout;
    radios->addWidget(fit_);
    radios->addWidget(unfit_);
    radios->addStretch();
    replaceLayout->addLayout(radios);
    replaceLayout->addWidget(new QLabel(QStringLiteral("Причина замены"), replace));
    replaceLayout->addWidget(reason_);
    auto follow = [this] { reason_->setEnabled(fit_->isChecked() != computed_.fit); };
    connect(fit_, &QRadioButton::toggled, this, follow);
    follow();

    QHBoxLayout *buttons = OkCancelRow(this, [this] { Confirm(); });
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addWidget(reasons);
    layout->addWidget(replace);
    layout->addLayout(buttons);
    resize(560, sizeHint().height());
}

void TVerdictDialog::Confirm()
{
    const bool fit = fit_->isChecked();
    if (fit == computed_.fit) {
        result_.reset();
        accept();
        return;
    }
    const QString reason = reason_->toPlainText().trimmed();
    if (reason.isEmpty()) {
        TMessageService::Error(this, QStringLiteral("Укажите причину замены заключения."));
        return;
    }
    TVerdict replaced;
    replaced.fit = fit;
    if (!fit)
        replaced.reasons = QStringList{reason};
    replaced.overridden = true;
    replaced.overriddenBy = who_;
    replaced.overriddenAt = QDateTime::currentDateTime();
    replaced.overrideReason = reason;
    result_ = replaced;
    accept();
}
