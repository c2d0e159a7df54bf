// Message boxes through the replaceable handler: what reaches it, and nesting of handlers.

#include "presentation/controls/messageservice.h"

#include <gtest/gtest.h>

namespace {

TEST(MessageService, HandlersSeeEveryMessageAndNest)
{
    QStringList outer;
    QStringList inner;
    const auto recorder = [](QStringList &log, QMessageBox::StandardButton answer) {
        return [&log, answer](QWidget *, const TMessageService::TMessage &m) {
            log << QStringLiteral("%1|%2|%3").arg(int(m.kind)).arg(m.caption, m.text);
            return answer;
        };
    };
    {
        TScopedMessageHandler first(recorder(outer, QMessageBox::Yes));
        TMessageService::Information(nullptr, "Загрузка завершена.");
        {
            TScopedMessageHandler second(recorder(inner, QMessageBox::No));
            TMessageService::Error(nullptr, "Нет ответа");
            EXPECT_FALSE(TMessageService::Confirm(nullptr, "Вопрос", "Сохранить?"));
        }
        // The outer handler is back once the inner one is gone.
        EXPECT_TRUE(TMessageService::Confirm(nullptr, "Вопрос", "Выйти?"));
        EXPECT_EQ(TMessageService::Show(nullptr, {TMessageService::TKind::Warning, "W", "w"}), QMessageBox::Yes);
    }
    EXPECT_EQ(outer, QStringList({"0|KestManager|Загрузка завершена.", "3|Вопрос|Выйти?", "1|W|w"}));
    EXPECT_EQ(inner, QStringList({"2|Ошибка|Нет ответа", "3|Вопрос|Сохранить?"}));

    // With every scope gone no handler is left (a real box would be shown).
    TMessageService::THandler none = TMessageService::SetHandler({});
    EXPECT_FALSE(none);
}

} // namespace
