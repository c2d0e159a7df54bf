#include "config/inidocument.h"

namespace {

// The profile services trim spaces and tabs, not every Unicode blank.
bool IsBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

QString TrimBlanks(QStringView s)
{
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && IsBlank(s[e - 1]))
        --e;
    return s.sliced(b, e - b).toString();
}

bool SameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QString OneLine(const QString &s)
{
    if (!s.contains(u'\n') && !s.contains(u'\r'))
        return s;
    QString out = s;
    out.replace(u'\r', u' ');
    out.replace(u'\n', u' ');
    return out;
}

} // namespace

TIniDocument::TLine TIniDocument::ParseLine(const QString &text)
{
    TLine line;
    line.text = text;
    const QString t = TrimBlanks(text);
    if (t.isEmpty() || t.startsWith(u';'))
        return line;
    if (t.startsWith(u'[')) {
        const qsizetype close = t.indexOf(u']');
        if (close > 0) {
            line.kind = TLineKind::Section;
            line.name = TrimBlanks(QStringView(t).sliced(1, close - 1));
        }
        return line;
    }
    const qsizetype eq = t.indexOf(u'=');
    if (eq < 0)
        return line;
    line.name = TrimBlanks(QStringView(t).first(eq));
    if (line.name.isEmpty())
        return line;
    line.kind = TLineKind::Key;
    line.value = TrimBlanks(QStringView(t).sliced(eq + 1));
    return line;
}

TIniDocument::TLine TIniDocument::MakeKeyLine(const QString &key, const QString &value)
{
    return ParseLine(key + u'=' + OneLine(value));
}

TIniDocument TIniDocument::Parse(const QString &text)
{
    TIniDocument doc;
    if (text.isEmpty())
        return doc;
    const qsizetype firstBreak = text.indexOf(u'\n');
    if (firstBreak > 0 && text[firstBreak - 1] == u'\r')
        doc.lineBreak_ = QStringLiteral("\r\n");

    qsizetype start = 0;
    const qsizetype n = text.size();
    while (start < n) {
        qsizetype end = text.indexOf(u'\n', start);
        const bool last = end < 0;
        if (last)
            end = n;
        qsizetype lineEnd = end;
        if (lineEnd > start && text[lineEnd - 1] == u'\r')
            --lineEnd;
        doc.lines_.push_back(ParseLine(text.mid(start, lineEnd - start)));
        start = end + 1;
    }
    return doc;
}

QString TIniDocument::Serialize() const
{
    QString out;
    qsizetype total = 0;
    for (const TLine &l : lines_)
        total += l.text.size() + lineBreak_.size();
    out.reserve(total);
    for (const TLine &l : lines_) {
        out += l.text;
        out += lineBreak_;
    }
    return out;
}

int TIniDocument::FindSection(const QString &section) const
{
    const QString name = TrimBlanks(section);
    for (size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i].kind == TLineKind::Section && SameName(lines_[i].name, name))
            return int(i);
    return -1;
}

int TIniDocument::SectionEnd(int header) const
{
    int i = header + 1;
    while (i < int(lines_.size()) && lines_[i].kind != TLineKind::Section)
        ++i;
    return i;
}

int TIniDocument::FindKey(int header, const QString &key) const
{
    const QString name = TrimBlanks(key);
    const int end = SectionEnd(header);
    for (int i = header + 1; i < end; ++i)
        if (lines_[i].kind == TLineKind::Key && SameName(lines_[i].name, name))
            return i;
    return -1;
}

std::optional<QString> TIniDocument::Value(const QString &section, const QString &key) const
{
    const int header = FindSection(section);
    if (header < 0)
        return std::nullopt;
    const int k = FindKey(header, key);
    if (k < 0)
        return std::nullopt;
    return lines_[k].value;
}

bool TIniDocument::HasSection(const QString &section) const
{
    return FindSection(section) >= 0;
}

QStringList TIniDocument::Keys(const QString &section) const
{
    QStringList keys;
    const int header = FindSection(section);
    if (header < 0)
        return keys;
    const int end = SectionEnd(header);
    for (int i = header + 1; i < end; ++i) {
        if (lines_[i].kind != TLineKind::Key)
            continue;
        if (!keys.contains(lines_[i].name, Qt::CaseInsensitive))
            keys.append(lines_[i].name);
    }
    return keys;
}

QStringList TIniDocument::Sections() const
{
    QStringList names;
    for (const TLine &l : lines_)
        if (l.kind == TLineKind::Section && !names.contains(l.name, Qt::CaseInsensitive))
            names.append(l.name);
    return names;
}

bool TIniDocument::IsStorableName(const QString &name)
{
    const QString t = TrimBlanks(name);
    if (t.isEmpty() || t.startsWith(u';') || t.startsWith(u'['))
        return false;
    for (QChar c : t)
        if (c == u']' || c == u'=' || c == u'\n' || c == u'\r')
            return false;
    return true;
}

bool TIniDocument::SetValue(const QString &section, const QString &key, const QString &value)
{
    if (!IsStorableName(section) || !IsStorableName(key))
        return false;
    const QString sectionName = TrimBlanks(section);
    int header = FindSection(sectionName);
    if (header < 0) {
        lines_.push_back(ParseLine(u'[' + sectionName + u']'));
        lines_.push_back(MakeKeyLine(key, value));
        return true;
    }
    const int k = FindKey(header, key);
    if (k >= 0) {
        if (lines_[k].value == TrimBlanks(OneLine(value)))
            return true; // leave the line exactly as it was
        // Keep the key as spelled in the file.
        lines_[k] = MakeKeyLine(lines_[k].name, value);
        return true;
    }
    // After the section's last key line, so that blank lines and comments that separate it from
    // the next section stay where they are.
    const int end = SectionEnd(header);
    int insertAt = header + 1;
    for (int i = header + 1; i < end; ++i)
        if (lines_[i].kind == TLineKind::Key)
            insertAt = i + 1;
    lines_.insert(lines_.begin() + insertAt, MakeKeyLine(key, value));
    return true;
}

bool TIniDocument::RemoveKey(const QString &section, const QString &key)
{
    const int header = FindSection(section);
    if (header < 0)
        return false;
    const int k = FindKey(header, key);
    if (k < 0)
        return false;
    lines_.erase(lines_.begin() + k);
    return true;
}

bool TIniDocument::RemoveSection(const QString &section)
{
    bool removed = false;
    for (int header = FindSection(section); header >= 0; header = FindSection(section)) {
        lines_.erase(lines_.begin() + header, lines_.begin() + SectionEnd(header));
        removed = true;
    }
    return removed;
}

namespace KestSettingsList {

QStringList Split(const QString &text)
{
    QStringList items;
    if (TrimBlanks(text).isEmpty())
        return items;
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (true) {
        while (i < n && IsBlank(text[i]))
            ++i;
        QString item;
        if (i < n && text[i] == u'"') {
            ++i;
            while (i < n) {
                if (text[i] == u'"') {
                    if (i + 1 < n && text[i + 1] == u'"') {
                        item += u'"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                item += text[i++];
            }
        }
        // Unquoted text, or whatever follows a closing quote up to the next comma.
        const qsizetype comma = text.indexOf(u',', i);
        const qsizetype stop = comma < 0 ? n : comma;
        item += QStringView(text).sliced(i, stop - i);
        items.append(TrimBlanks(item));
        if (comma < 0)
            break;
        i = comma + 1;
    }
    return items;
}

QString Join(const QStringList &items)
{
    QString out;
    for (qsizetype k = 0; k < items.size(); ++k) {
        if (k)
            out += u',';
        const QString &item = items[k];
        if (item.isEmpty() || item.contains(u',') || item.contains(u'"')) {
            QString quoted = item;
            quoted.replace(QStringLiteral("\""), QStringLiteral("\"\""));
            out += u'"' + quoted + u'"';
        } else {
            out += item;
        }
    }
    return out;
}

} // namespace KestSettingsList
