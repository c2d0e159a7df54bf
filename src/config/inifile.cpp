#include "config/inifile.h"

#include "config/textdecoding.h"
#include "protocol/numberformat.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TIniFile::TWriteFaultHook &FaultHook()
{
    static TIniFile::TWriteFaultHook hook;
    return hook;
}

bool InjectedFault(TIniFile::TWriteStage stage)
{
    return FaultHook() && FaultHook()(stage);
}

// The system's reason in the user's words; the temporary file is ours and never named.
QString Reason(int err, const QString &dir)
{
    switch (err) {
    case EACCES:
    case EPERM:
        return QStringLiteral("нет прав на запись в папку «%1»").arg(dir);
    case EROFS:
        return QStringLiteral("папка «%1» открыта только для чтения").arg(dir);
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("папки «%1» нет").arg(dir);
    case ENOSPC:
        return QStringLiteral("на диске нет места");
    case EDQUOT:
        return QStringLiteral("исчерпана дисковая квота");
    case EFBIG:
        return QStringLiteral("файл больше, чем позволяет система");
    case EISDIR:
        return QStringLiteral("под этим именем есть папка");
    case ENAMETOOLONG:
        return QStringLiteral("слишком длинное имя файла");
    case EIO:
        return QStringLiteral("ошибка ввода-вывода");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("открыто слишком много файлов");
    default:
        return QStringLiteral("системная ошибка %1").arg(err);
    }
}

[[noreturn]] void Fail(const QString &target, const QString &dir, int err)
{
    throw EIniFileError(
        QStringLiteral("Не удалось записать файл «%1»: %2.").arg(target, Reason(err, dir)).toStdString());
}

// Parses the profile services' integer forms: optional sign, then decimal digits or "0x" and hex
// digits. Hex is taken as the 32-bit pattern (0xFFFFFFFF is -1), decimal must fit an int.
bool ParseInteger(const QString &text, int &out)
{
    QStringView s(text);
    bool negative = false;
    if (!s.isEmpty() && (s[0] == u'-' || s[0] == u'+')) {
        negative = s[0] == u'-';
        s = s.sliced(1);
    }
    if (s.isEmpty())
        return false;
    bool ok = false;
    qint64 v;
    if (s.size() > 2 && s[0] == u'0' && (s[1] == u'x' || s[1] == u'X')) {
        const QStringView digits = s.sliced(2);
        if (digits.size() > 8)
            return false;
        for (QChar c : digits)
            if (!c.isDigit() && !(c >= u'a' && c <= u'f') && !(c >= u'A' && c <= u'F'))
                return false;
        const quint32 bits = digits.toUInt(&ok, 16);
        if (!ok)
            return false;
        v = qint32(bits);
    } else {
        for (QChar c : s)
            if (c < u'0' || c > u'9')
                return false;
        if (s.size() > 12)
            return false;
        v = s.toLongLong(&ok, 10);
        if (!ok)
            return false;
    }
    if (negative)
        v = -v;
    if (v < INT32_MIN || v > INT32_MAX)
        return false;
    out = int(v);
    return true;
}

// The file a write replaces: a settings file that is a link is changed where it points.
QString WriteTarget(const QString &path)
{
    const QFileInfo info(path);
    if (info.isSymLink()) {
        const QString target = info.symLinkTarget();
        if (!target.isEmpty())
            return target;
    }
    return path;
}

} // namespace

TIniFile::TIniFile(const QString &fileName) : fileName_(fileName) { }

void TIniFile::SetWriteFaultHookForTesting(TWriteFaultHook hook)
{
    FaultHook() = std::move(hook);
}

TIniDocument TIniFile::LoadFile() const
{
    const QFileInfo info(fileName_);
    if (!info.exists()) // also a link to nothing: the first write creates its target
        return {};
    if (!info.isFile())
        throw EIniFileError("not a regular file: " + fileName_.toStdString());
    QFile file(fileName_);
    if (!file.open(QIODevice::ReadOnly))
        throw EIniFileError("cannot open " + fileName_.toStdString() + ": " + file.errorString().toStdString());
    if (file.size() > kMaxFileSize)
        throw EIniFileError("settings file too large: " + fileName_.toStdString());
    // Sized by what is there, not by the limit: a settings file is small.
    QByteArray bytes;
    char chunk[16384];
    while (true) {
        const qint64 n = file.read(chunk, sizeof chunk);
        if (n <= 0)
            break;
        bytes.append(chunk, n);
        if (bytes.size() > kMaxFileSize)
            break;
    }
    if (file.error() != QFileDevice::NoError)
        throw EIniFileError("cannot read " + fileName_.toStdString() + ": " + file.errorString().toStdString());
    if (bytes.size() > kMaxFileSize)
        throw EIniFileError("settings file too large: " + fileName_.toStdString());
    return TIniDocument::Parse(KestText::DecodeTextFile(bytes));
}

void TIniFile::WriteFileAtomically(const QString &path, const QByteArray &bytes)
{
    const QString target = WriteTarget(path);
    const QFileInfo info(target);
    const QString dir = info.absolutePath();

    // A hidden name in the same folder, so that the rename cannot cross file systems.
    QByteArray tmpl = QFile::encodeName(dir + QStringLiteral("/.") + info.fileName() + QStringLiteral(".XXXXXX"));
    if (InjectedFault(TWriteStage::CreateTemp))
        Fail(target, dir, ENOSPC);
    int fd = ::mkstemp(tmpl.data());
    if (fd < 0)
        Fail(target, dir, errno);
    const QByteArray tmpName = tmpl;

    auto abandon = [&](int err) {
        if (fd >= 0)
            ::close(fd);
        ::unlink(tmpName.constData());
        Fail(target, dir, err);
    };

    // Keep the permissions of the file being replaced; a new file gets the usual 0644.
    struct stat st { };
    const mode_t mode = ::stat(QFile::encodeName(target).constData(), &st) == 0 ? (st.st_mode & 07777) : 0644;
    ::fchmod(fd, mode);

    if (InjectedFault(TWriteStage::WriteTemp))
        abandon(ENOSPC);
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            abandon(errno);
        }
        p += n;
        left -= n;
    }
    if (InjectedFault(TWriteStage::SyncTemp))
        abandon(EIO);
    if (::fsync(fd) != 0)
        abandon(errno);
    if (::close(fd) != 0) {
        fd = -1;
        abandon(errno);
    }
    fd = -1;
    if (InjectedFault(TWriteStage::Rename))
        abandon(EIO);
    if (::rename(tmpName.constData(), QFile::encodeName(target).constData()) != 0)
        abandon(errno);

    // The folder is not synced: on a power loss the rename may be undone, which leaves the old
    // file, complete. Syncing it would double the time of every settings write.
}

TIniDocument TIniFile::Load() const
{
    return batch_ ? batch_->doc : LoadFile();
}

void TIniFile::Modify(const std::function<void(TIniDocument &)> &change)
{
    if (batch_) {
        change(batch_->doc);
        return;
    }
    // A file that exists but cannot be read is not overwritten: the write is refused instead.
    TIniDocument doc = LoadFile();
    const QString before = doc.Serialize();
    change(doc);
    const QString after = doc.Serialize();
    if (after == before)
        return;
    WriteFileAtomically(fileName_, after.toUtf8());
}

void TIniFile::BeginBatch()
{
    if (batch_) {
        ++batch_->depth;
        return;
    }
    // Raises like a read when the file cannot be read; no batch is open then.
    TIniDocument doc = LoadFile();
    const QString text = doc.Serialize();
    batch_ = std::make_unique<TBatchState>(TBatchState{std::move(doc), text, 1});
}

void TIniFile::EndBatch()
{
    if (!batch_)
        return;
    if (--batch_->depth > 0)
        return;
    const std::unique_ptr<TBatchState> batch = std::move(batch_);
    const QString after = batch->doc.Serialize();
    if (after != batch->original)
        WriteFileAtomically(fileName_, after.toUtf8());
}

TIniFile::~TIniFile() = default;

TIniBatch::TIniBatch(TIniFile &ini) : ini_(ini)
{
    try {
        ini_.BeginBatch();
        open_ = true;
    } catch (...) {
        // Unreadable file: the writes inside go one by one and fail (are dropped) one by one.
    }
}

TIniBatch::~TIniBatch()
{
    try {
        Commit();
    } catch (...) {
        // Dropped, as any failed settings write; the file stays as it was.
    }
}

void TIniBatch::Commit()
{
    if (!open_)
        return;
    open_ = false;
    ini_.EndBatch();
}

QString TIniFile::ReadString(const QString &section, const QString &key, const QString &defaultValue) const
{
    return Load().Value(section, key).value_or(defaultValue);
}

void TIniFile::WriteString(const QString &section, const QString &key, const QString &value)
{
    // Refused before the file is touched, inside a batch as well.
    for (const QString *name : {&section, &key})
        if (!TIniDocument::IsStorableName(*name))
            throw EIniNameError("settings name cannot be stored: \"" + name->toStdString() + "\"");
    Modify([&](TIniDocument &doc) { doc.SetValue(section, key, value); });
}

int TIniFile::ReadInteger(const QString &section, const QString &key, int defaultValue) const
{
    const auto text = Load().Value(section, key);
    int v = 0;
    return text && ParseInteger(*text, v) ? v : defaultValue;
}

void TIniFile::WriteInteger(const QString &section, const QString &key, int value)
{
    WriteString(section, key, QString::number(value));
}

bool TIniFile::ReadBool(const QString &section, const QString &key, bool defaultValue) const
{
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void TIniFile::WriteBool(const QString &section, const QString &key, bool value)
{
    WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

double TIniFile::ReadFloat(const QString &section, const QString &key, double defaultValue) const
{
    const auto text = Load().Value(section, key);
    if (!text || text->isEmpty())
        return defaultValue;
    return StrToFloatDef(*text, defaultValue);
}

void TIniFile::WriteFloat(const QString &section, const QString &key, double value)
{
    WriteString(section, key, FloatToQStr(value));
}

bool TIniFile::SectionExists(const QString &section) const
{
    return Load().HasSection(section);
}

bool TIniFile::ValueExists(const QString &section, const QString &key) const
{
    return Load().Value(section, key).has_value();
}

QStringList TIniFile::ReadSection(const QString &section) const
{
    return Load().Keys(section);
}

QStringList TIniFile::ReadSections() const
{
    return Load().Sections();
}

void TIniFile::DeleteKey(const QString &section, const QString &key)
{
    Modify([&](TIniDocument &doc) { doc.RemoveKey(section, key); });
}

void TIniFile::EraseSection(const QString &section)
{
    Modify([&](TIniDocument &doc) { doc.RemoveSection(section); });
}
