#pragma once
// Every message box of the program goes through here, so that a test can answer it instead of a
// user: a replaceable handler receives the message and returns the button "pressed". Without a
// handler a real modal QMessageBox is shown. Main thread only (a background thread posts its
// messages to the main thread first).

#include <QMessageBox>
#include <QString>

#include <functional>

class QWidget;

class TMessageService {
public:
    enum class TKind { Information, Warning, Error, Question };

    struct TMessage {
        TKind kind = TKind::Information;
        QString caption;
        QString text;
    };

    // `parent` may be null. Returns the button that closed the box.
    using THandler = std::function<QMessageBox::StandardButton(QWidget *parent, const TMessage &)>;

    static QMessageBox::StandardButton Show(QWidget *parent, const TMessage &message);

    // Caption "KestManager" unless given.
    static void Information(
        QWidget *parent, const QString &text, const QString &caption = QStringLiteral("KestManager"));
    // Caption "Ошибка".
    static void Error(QWidget *parent, const QString &text);
    // Yes/No; true for Yes.
    static bool Confirm(QWidget *parent, const QString &caption, const QString &text);

    // Installs `handler` (an empty one brings back the real boxes); returns the one it replaces.
    static THandler SetHandler(THandler handler);
};

// Installs a handler for its lifetime and restores the previous one afterwards.
class TScopedMessageHandler {
public:
    explicit TScopedMessageHandler(TMessageService::THandler handler)
        : previous_(TMessageService::SetHandler(std::move(handler)))
    {
    }
    ~TScopedMessageHandler() { TMessageService::SetHandler(std::move(previous_)); }
    TScopedMessageHandler(const TScopedMessageHandler &) = delete;
    TScopedMessageHandler &operator=(const TScopedMessageHandler &) = delete;

private:
    TMessageService::THandler previous_;
};
