#pragma once
// The "ОК" / "Отмена" row the laboratory's dialogs share: "ОК" (default, "okButton") runs the dialog's own
// check, which accepts or keeps it open; "Отмена" ("cancelButton") rejects.

#include <QDialog>
#include <QHBoxLayout>
#include <QPushButton>

#include <functional>

inline QHBoxLayout *OkCancelRow(QDialog *dialog, const std::function<void()> &confirm)
{
    auto *ok = new QPushButton(QStringLiteral("ОК"), dialog);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    auto *cancel = new QPushButton(QStringLiteral("Отмена"), dialog);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    QObject::connect(ok, &QPushButton::clicked, dialog, confirm);
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    return buttons;
}
