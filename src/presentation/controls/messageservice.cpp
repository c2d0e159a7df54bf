#include "presentation/controls/messageservice.h"

#include <QCoreApplication>
#include <QThread>

namespace {

TMessageService::THandler &Handler()
{
    static TMessageService::THandler handler;
    return handler;
}

QMessageBox::StandardButton ShowBox(QWidget *parent, const TMessageService::TMessage &m)
{
    using K = TMessageService::TKind;
    switch (m.kind) {
    case K::Information:
        return QMessageBox::information(parent, m.caption, m.text);
    case K::Warning:
        return QMessageBox::warning(parent, m.caption, m.text);
    case K::Error:
        return QMessageBox::critical(parent, m.caption, m.text);
    case K::Question:
        return QMessageBox::question(parent, m.caption, m.text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    }
    return QMessageBox::NoButton;
}

} // namespace

QMessageBox::StandardButton TMessageService::Show(QWidget *parent, const TMessage &message)
{
    Q_ASSERT(!QCoreApplication::instance() || QThread::currentThread() == QCoreApplication::instance()->thread());
    // A copy, so that a handler may replace itself while it runs.
    const THandler handler = Handler();
    return handler ? handler(parent, message) : ShowBox(parent, message);
}

void TMessageService::Information(QWidget *parent, const QString &text, const QString &caption)
{
    Show(parent, {TKind::Information, caption, text});
}

void TMessageService::Error(QWidget *parent, const QString &text)
{
    Show(parent, {TKind::Error, QStringLiteral("Ошибка"), text});
}

bool TMessageService::Confirm(QWidget *parent, const QString &caption, const QString &text)
{
    return Show(parent, {TKind::Question, caption, text}) == QMessageBox::Yes;
}

TMessageService::THandler TMessageService::SetHandler(THandler handler)
{
    THandler previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}
