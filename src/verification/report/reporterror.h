#pragma once
// The one error type of the report writers: its text is the Russian message the user sees.

#include <QString>

#include <stdexcept>

class EReportError : public std::runtime_error {
public:
    explicit EReportError(const QString &message) : std::runtime_error(message.toStdString()), message_(message) { }
    const QString &Message() const { return message_; }

private:
    QString message_;
};
