#include "presentation/controls/numberentryvalidator.h"

#include <QLineEdit>

namespace {

// True when `shorter` is `longer` with some characters taken out.
bool IsDeletionOf(const QString &shorter, const QString &longer)
{
    if (shorter.size() >= longer.size())
        return false;
    qsizetype j = 0;
    for (qsizetype i = 0; i < longer.size() && j < shorter.size(); ++i)
        if (longer[i] == shorter[j])
            ++j;
    return j == shorter.size();
}

} // namespace

TNumberEntryValidator::TNumberEntryValidator(QLineEdit *edit_) : QValidator(edit_), edit(edit_) { }

bool TNumberEntryValidator::IsTypable(const QString &text)
{
    qsizetype i = 0;
    if (i < text.size() && text[i] == u'-')
        ++i;
    while (i < text.size() && text[i].isDigit() && text[i].unicode() < 128)
        ++i;
    if (i < text.size() && text[i] == u',') {
        ++i;
        int decimals = 0;
        while (i < text.size() && text[i].isDigit() && text[i].unicode() < 128) {
            ++i;
            ++decimals;
        }
        if (decimals > 2)
            return false;
    }
    return i == text.size();
}

QValidator::State TNumberEntryValidator::validate(QString &input, int &) const
{
    input.replace(u'.', u',');
    if (edit && IsDeletionOf(input, edit->text()))
        return Acceptable;
    return IsTypable(input) ? Acceptable : Invalid;
}
