#include "lab/arshinexport.h"

#include "lab/labconfig.h"
#include "lab/labrules.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QXmlStreamWriter>

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/xmlschemas.h>

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <memory>

namespace {

const QString kNamespace = QStringLiteral("urn://fgis-arshin.gost.ru/module-verifications/import/2020-06-19");
const QString kSection = QStringLiteral("Arshin");
// The amendment that gives the number of the sticker put on a fit instrument after its run.
const QString kStickerField = QStringLiteral("stickerNum");

// The schema counts characters, not UTF-16 units.
qsizetype Chars(const QString &text)
{
    return text.toUcs4().size();
}

bool Flag(const QString &text)
{
    const QString t = text.trimmed().toLower();
    return t == QLatin1String("1") || t == QLatin1String("true") || t == QStringLiteral("да")
        || t == QLatin1String("yes");
}

QString MimeTypeOf(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("pdf"))
        return QStringLiteral("application/pdf");
    if (suffix == QLatin1String("doc"))
        return QStringLiteral("application/msword");
    if (suffix == QLatin1String("zip"))
        return QStringLiteral("application/zip");
    if (suffix == QLatin1String("djvu"))
        return QStringLiteral("image/vnd.djvu");
    return QString();
}

bool IsWorkingDay(const QDate &day, const QSet<QDate> &holidays)
{
    return day.dayOfWeek() < 6 && !holidays.contains(day);
}

// libxml2 reports through callbacks; the first few messages are enough to find the fault.
struct TXmlErrors {
    QStringList lines;
    static void Collect(void *context, xmlErrorPtr error)
    {
        auto *self = static_cast<TXmlErrors *>(context);
        if (!error || self->lines.size() >= 5)
            return;
        QString message = QString::fromUtf8(error->message ? error->message : "").trimmed();
        // The namespace in every element name only hides the element.
        message.replace(QLatin1Char('{') + kNamespace + QLatin1Char('}'), QString());
        self->lines << (error->line > 0 ? QStringLiteral("строка %1: %2").arg(error->line).arg(message) : message);
    }
};

struct TSchemaDeleter {
    void operator()(xmlSchemaPtr p) const { xmlSchemaFree(p); }
    void operator()(xmlSchemaParserCtxtPtr p) const { xmlSchemaFreeParserCtxt(p); }
    void operator()(xmlSchemaValidCtxtPtr p) const { xmlSchemaFreeValidCtxt(p); }
};

void WriteEntry(QXmlStreamWriter &xml, const TArshinEntry &e)
{
    auto text = [&xml](const char *name, const QString &value) {
        xml.writeTextElement(kNamespace, QLatin1String(name), value);
    };
    auto flag = [&text](const char *name, bool value) {
        text(name, value ? QStringLiteral("true") : QStringLiteral("false"));
    };
    xml.writeStartElement(kNamespace, QStringLiteral("miInfo"));
    if (!e.standardRegNumber.isEmpty()) {
        xml.writeStartElement(kNamespace, QStringLiteral("etaMI"));
        text("regNumber", e.standardRegNumber);
    } else {
        xml.writeStartElement(kNamespace, QStringLiteral("singleMI"));
        text("mitypeNumber", e.typeNumber);
        text("manufactureNum", e.serial);
        if (!e.manufactureYear.isEmpty())
            text("manufactureYear", e.manufactureYear);
        text("modification", e.modification);
    }
    xml.writeEndElement();
    xml.writeEndElement();
    text("signCipher", e.signCipher);
    text("miOwner", e.owner);
    text("vrfDate", e.verificationDate.toString(Qt::ISODate));
    if (e.fit && e.validUntil.isValid())
        text("validDate", e.validUntil.toString(Qt::ISODate));
    text("type", QString::number(e.kind));
    flag("calibration", false);
    if (e.fit) {
        xml.writeStartElement(kNamespace, QStringLiteral("applicable"));
        if (!e.stickerNum.isEmpty())
            text("stickerNum", e.stickerNum);
        flag("signPass", e.signPass);
        flag("signMi", e.signMi);
        xml.writeEndElement();
    } else {
        xml.writeStartElement(kNamespace, QStringLiteral("inapplicable"));
        text("reasons", e.reasons);
        xml.writeEndElement();
    }
    text("docTitle", e.procedure);
    if (!e.verifier.isEmpty())
        text("metrologist", e.verifier);
    xml.writeStartElement(kNamespace, QStringLiteral("means"));
    if (!e.fundNumbers.isEmpty()) {
        xml.writeStartElement(kNamespace, QStringLiteral("mieta"));
        for (const QString &number : e.fundNumbers)
            text("number", number);
        xml.writeEndElement();
    }
    if (!e.instruments.empty()) {
        xml.writeStartElement(kNamespace, QStringLiteral("mis"));
        for (const auto &[typeNumber, serial] : e.instruments) {
            xml.writeStartElement(kNamespace, QStringLiteral("mi"));
            text("typeNum", typeNumber);
            text("manufactureNum", serial);
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeStartElement(kNamespace, QStringLiteral("conditions"));
    text("temperature", e.temperature);
    text("pressure", e.pressure);
    text("hymidity", e.humidity);
    xml.writeEndElement();
    if (!e.additionalInfo.isEmpty())
        text("additional_info", e.additionalInfo);
}

// The protocol's content in base64, a chunk at a time: a protocol of any size costs one chunk of
// memory. A chunk is a multiple of 3 bytes so that the pieces join without padding in between.
bool WriteProtocol(QXmlStreamWriter &xml, const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("не удалось прочитать протокол %1: %2").arg(path, file.errorString());
        return false;
    }
    xml.writeStartElement(kNamespace, QStringLiteral("protocol"));
    xml.writeAttribute(QStringLiteral("mimetype"), MimeTypeOf(path));
    xml.writeAttribute(QStringLiteral("filename"), QFileInfo(path).fileName());
    xml.writeStartElement(kNamespace, QStringLiteral("content"));
    constexpr qint64 kChunk = 3 * 64 * 1024;
    QByteArray chunk(kChunk, Qt::Uninitialized);
    for (;;) {
        qint64 got = 0;
        while (got < kChunk) {
            const qint64 n = file.read(chunk.data() + got, kChunk - got);
            if (n < 0) {
                *error = QStringLiteral("не удалось прочитать протокол %1: %2").arg(path, file.errorString());
                return false;
            }
            if (n == 0)
                break;
            got += n;
        }
        if (got == 0)
            break;
        xml.writeCharacters(QString::fromLatin1(QByteArray::fromRawData(chunk.constData(), got).toBase64()));
        if (got < kChunk)
            break;
    }
    xml.writeEndElement();
    xml.writeEndElement();
    return true;
}

// Checks the file as it is read, a megabyte at a time. libxml2's own file reading hands an element's
// text to the validator a few kilobytes at a time and the validator joins each piece by copying all
// it has, so a protocol of megabytes took seconds; pushed in large pieces, the text arrives in a few.
// Nothing keeps more than the text of the element being read (a protocol's base64), whatever the
// number of results. 0 when valid.
int ValidateStreamed(xmlSchemaValidCtxtPtr validator, const QString &path, TXmlErrors *errors)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        errors->lines << file.errorString();
        return -1;
    }
    xmlSAXHandler none{}; // only the validator listens
    none.initialized = XML_SAX2_MAGIC;
    xmlSAXHandlerPtr sax = &none;
    void *userData = nullptr;
    xmlSchemaSAXPlugPtr plug = xmlSchemaSAXPlug(validator, &sax, &userData);
    if (!plug)
        return -1;
    xmlParserCtxtPtr parser = xmlCreatePushParserCtxt(sax, userData, nullptr, 0, QFile::encodeName(path).constData());
    if (!parser) {
        xmlSchemaSAXUnplug(plug);
        return -1;
    }
    xmlCtxtUseOptions(parser, XML_PARSE_NONET | XML_PARSE_HUGE);
    xmlSchemaValidateSetLocator(
        validator,
        [](void *context, const char **file, unsigned long *line) {
            if (file)
                *file = nullptr;
            *line = static_cast<unsigned long>(xmlSAX2GetLineNumber(context));
            return 0;
        },
        parser);
    // Not well-formed input is reported by the parser through the thread's handler.
    xmlSetStructuredErrorFunc(errors, &TXmlErrors::Collect);
    QByteArray chunk(1024 * 1024, Qt::Uninitialized);
    int rc = 0;
    for (;;) {
        const qint64 n = file.read(chunk.data(), chunk.size());
        if (n < 0) {
            errors->lines << file.errorString();
            rc = -1;
            break;
        }
        rc = xmlParseChunk(parser, chunk.constData(), int(n), n == 0 ? 1 : 0);
        if (rc != 0 || n == 0)
            break;
    }
    if (rc == 0 && !parser->wellFormed)
        rc = -1;
    if (rc == 0 && xmlSchemaIsValid(validator) != 1)
        rc = 1;
    xmlSetStructuredErrorFunc(nullptr, nullptr);
    xmlSchemaValidateSetLocator(validator, nullptr, nullptr);
    xmlSchemaSAXUnplug(plug);
    xmlFreeParserCtxt(parser);
    return rc;
}

bool SyncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

std::vector<TJournalRun> WithStickers(std::vector<TJournalRun> runs, const std::map<TJournalRunId, QString> &stickers)
{
    for (TJournalRun &run : runs) {
        const auto sticker = stickers.find(run.header.id);
        if (sticker == stickers.end() || sticker->second.trimmed().isEmpty())
            continue;
        TAmendment a;
        a.field = kStickerField;
        a.newValue = sticker->second;
        run.amendments.push_back(a);
    }
    return runs;
}

} // namespace

TArshinLab ArshinLabOf(const TLabConfig &config)
{
    return {config.ReadSignCipher().trimmed(), Flag(config.ReadSignPass()), Flag(config.ReadSignMi())};
}

std::optional<TVerdict> ArshinVerdict(const TJournalRun &run)
{
    std::optional<TVerdict> verdict;
    if (run.end)
        verdict = run.end->verdict;
    for (const TAmendment &a : run.amendments) {
        if (a.field != QLatin1String("verdict"))
            continue;
        const QString value = a.newValue.trimmed();
        const bool fit = value == QStringLiteral("пригоден");
        if (!fit && value != QStringLiteral("непригоден"))
            continue;
        TVerdict amended;
        amended.fit = fit;
        if (!fit)
            amended.reasons = !a.reason.trimmed().isEmpty() ? QStringList{a.reason.trimmed()}
                : verdict && !verdict->fit                  ? verdict->reasons
                                                            : QStringList();
        amended.overridden = true;
        amended.overriddenBy = a.who;
        amended.overriddenAt = a.time;
        amended.overrideReason = a.reason;
        verdict = amended;
    }
    return verdict;
}

TArshinEntry ArshinEntryOf(const TJournalRun &stored, const TArshinLab &lab)
{
    // The record as amended after the run (owner, conditions, header fields) is what goes to the Fund.
    const TJournalRun run = LabRules::Amended(stored);
    const TLabRunRecord &record = run.header.lab;
    TArshinEntry e;
    e.runId = run.header.id;
    if (record.type) {
        e.typeNumber = record.type->typeNumber.trimmed();
        e.procedure = record.type->procedure.trimmed();
    }
    e.serial = run.header.DeviceNumber();
    e.manufactureYear = record.manufactureYear.trimmed();
    e.modification = record.modification.trimmed().isEmpty() ? QStringLiteral("-") : record.modification.trimmed();
    e.signCipher = lab.signCipher.trimmed();
    e.owner = record.owner.trimmed();
    e.verificationDate = run.header.started.toLocalTime().date(); // the lab's own calendar day
    e.kind = static_cast<int>(record.kind);
    e.usedAsStandard = record.usedAsStandard;
    if (record.usedAsStandard)
        e.standardRegNumber = record.standardRegNumber.trimmed();
    const std::optional<TVerdict> verdict = ArshinVerdict(run);
    e.fit = verdict && verdict->fit;
    if (e.fit && record.type)
        e.validUntil = LabRules::ValidUntil(e.verificationDate, record.type->intervalMonths);
    if (verdict && !verdict->fit)
        e.reasons = verdict->reasons.join(QStringLiteral("; ")).trimmed();
    e.signPass = lab.signPass;
    e.signMi = lab.signMi;
    // The sticker is put on the instrument after the run, so its number comes as an amendment.
    if (e.fit)
        for (const TAmendment &a : stored.amendments)
            if (a.field.trimmed() == kStickerField)
                e.stickerNum = a.newValue.trimmed();
    e.verifier = run.header.Verifier();
    for (const TStandard &s : record.standards) {
        if (!s.fundNumber.trimmed().isEmpty())
            e.fundNumbers << s.fundNumber.trimmed();
        else if (!s.typeNumber.trimmed().isEmpty() && !s.serial.trimmed().isEmpty())
            e.instruments.emplace_back(s.typeNumber.trimmed(), s.serial.trimmed());
    }
    const TJournalKeyValues fields = LabRules::ReportFields(record, verdict, e.verificationDate, {});
    e.temperature = JournalValueOf(fields, QStringLiteral("Temperature"));
    e.pressure = JournalValueOf(fields, QStringLiteral("Pressure"));
    e.humidity = JournalValueOf(fields, QStringLiteral("Humidity"));
    return e;
}

QStringList ArshinMissing(const TJournalRun &stored, const TArshinLab &lab)
{
    // The record as amended after the run (owner, conditions, header fields) is what goes to the Fund.
    const TJournalRun run = LabRules::Amended(stored);
    QStringList missing;
    const TArshinEntry e = ArshinEntryOf(run, lab);
    const TLabRunRecord &record = run.header.lab;
    if (!run.end || run.end->outcome != TJournalOutcome::Finished)
        missing << QStringLiteral("поверка не завершена");
    const std::optional<TVerdict> verdict = ArshinVerdict(run);
    if (!verdict)
        missing << QStringLiteral("нет заключения о пригодности");
    else if (!verdict->fit && e.reasons.isEmpty())
        missing << QStringLiteral("не указаны причины непригодности");
    if (!record.type)
        missing << QStringLiteral("не выбран тип средства измерений");
    else {
        if (e.typeNumber.isEmpty())
            missing << QStringLiteral("нет номера типа в реестре");
        if (e.procedure.isEmpty())
            missing << QStringLiteral("нет методики поверки");
    }
    if (e.serial.isEmpty())
        missing << QStringLiteral("нет заводского номера");
    if (e.owner.isEmpty())
        missing << QStringLiteral("нет владельца");
    if (!e.manufactureYear.isEmpty()
        && !QRegularExpression(QStringLiteral("^[0-9]{4}$")).match(e.manufactureYear).hasMatch())
        missing << QStringLiteral("год выпуска «%1» не год").arg(e.manufactureYear);
    if (!e.stickerNum.isEmpty() && !QRegularExpression(QStringLiteral("^[0-9]{11}$")).match(e.stickerNum).hasMatch())
        missing << QStringLiteral("номер наклейки «%1» не из 11 цифр").arg(e.stickerNum);
    if (!record.conditions.temperature)
        missing << QStringLiteral("не введена температура");
    if (!record.conditions.pressure)
        missing << QStringLiteral("не введено атмосферное давление");
    if (!record.conditions.humidity)
        missing << QStringLiteral("не введена относительная влажность");
    if (e.fundNumbers.isEmpty())
        missing << QStringLiteral("нет эталона с регистрационным номером в Фонде");
    for (const TStandard &s : record.standards)
        if (s.fundNumber.trimmed().isEmpty() && (s.typeNumber.trimmed().isEmpty() || s.serial.trimmed().isEmpty()))
            missing << QStringLiteral(
                "у эталона «%1» нет ни регистрационного номера, ни номера типа с заводским номером")
                           .arg(s.name);
    if (!QRegularExpression(QStringLiteral("^[А-Я]{1,3}$")).match(e.signCipher).hasMatch())
        missing << QStringLiteral("шифр знака поверки «%1» не из 1–3 заглавных русских букв").arg(e.signCipher);

    auto tooLong = [&missing](const QString &what, const QString &value, int limit) {
        if (Chars(value) > limit)
            missing << QStringLiteral("%1 длиннее %2 знаков").arg(what).arg(limit);
    };
    tooLong(QStringLiteral("номер типа"), e.typeNumber, 32);
    tooLong(QStringLiteral("заводской номер"), e.serial, 128);
    tooLong(QStringLiteral("модификация"), e.modification, 128);
    tooLong(QStringLiteral("рег. номер эталона"), e.standardRegNumber, 32);
    tooLong(QStringLiteral("владелец"), e.owner, 512);
    tooLong(QStringLiteral("причины непригодности"), e.reasons, 1024);
    tooLong(QStringLiteral("методика поверки"), e.procedure, 128);
    tooLong(QStringLiteral("поверитель"), e.verifier, 128);
    for (const QString &number : e.fundNumbers)
        tooLong(QStringLiteral("регистрационный номер эталона «%1»").arg(number), number, 32);
    for (const auto &[typeNumber, serial] : e.instruments) {
        tooLong(QStringLiteral("номер типа вспомогательного средства «%1»").arg(typeNumber), typeNumber, 32);
        tooLong(QStringLiteral("заводской номер вспомогательного средства «%1»").arg(serial), serial, 128);
    }
    return missing;
}

QString ArshinShippedSchemaPath()
{
    return QStringLiteral(":/kest/arshin/arshin-2020-06-19.xsd");
}

QString ArshinSchemaPath(const QString &configured)
{
    return configured.trimmed().isEmpty() ? ArshinShippedSchemaPath() : configured.trimmed();
}

bool ValidateArshinFile(const QString &path, const QString &schemaPath, QString *error)
{
    TXmlErrors errors;
    std::unique_ptr<xmlSchemaParserCtxt, TSchemaDeleter> parser;
    QByteArray schemaText; // outlives the parser that reads from it
    if (schemaPath.startsWith(QLatin1Char(':'))) {
        QFile file(schemaPath);
        if (file.open(QIODevice::ReadOnly))
            schemaText = file.readAll();
        if (schemaText.isEmpty()) {
            *error = QStringLiteral("не удалось прочитать схему %1").arg(schemaPath);
            return false;
        }
        parser.reset(xmlSchemaNewMemParserCtxt(schemaText.constData(), int(schemaText.size())));
    } else {
        // From its file, so that an official schema's includes are found beside it.
        if (!QFileInfo(schemaPath).isFile()) {
            *error = QStringLiteral("схема %1 не найдена").arg(schemaPath);
            return false;
        }
        parser.reset(xmlSchemaNewParserCtxt(QFile::encodeName(schemaPath).constData()));
    }
    if (!parser) {
        *error = QStringLiteral("не удалось прочитать схему %1").arg(schemaPath);
        return false;
    }
    xmlSchemaSetParserStructuredErrors(parser.get(), &TXmlErrors::Collect, &errors);
    std::unique_ptr<xmlSchema, TSchemaDeleter> schema(xmlSchemaParse(parser.get()));
    if (!schema) {
        *error = QStringLiteral("схема %1 не читается: %2").arg(schemaPath, errors.lines.join(QStringLiteral("; ")));
        return false;
    }
    std::unique_ptr<xmlSchemaValidCtxt, TSchemaDeleter> validator(xmlSchemaNewValidCtxt(schema.get()));
    if (!validator) {
        *error = QStringLiteral("не удалось начать проверку по схеме");
        return false;
    }
    xmlSchemaSetValidStructuredErrors(validator.get(), &TXmlErrors::Collect, &errors);
    const int rc = ValidateStreamed(validator.get(), path, &errors);
    if (rc != 0) {
        *error = QStringLiteral("файл не соответствует схеме %1: %2")
                     .arg(schemaPath,
                         errors.lines.isEmpty() ? QStringLiteral("ошибка %1").arg(rc)
                                                : errors.lines.join(QStringLiteral("; ")));
        return false;
    }
    return true;
}

bool WriteArshinFile(const QString &path, const std::vector<TJournalRun> &runs, const TArshinLab &lab,
    const TArshinOptions &options, QString *error, std::vector<TArshinSkipped> *skipped)
{
    QString ignored;
    if (!error)
        error = &ignored;
    if (skipped)
        skipped->clear();
    // A sticker number given with the export is the run's last word on it, as a later amendment would be.
    std::vector<TJournalRun> restated;
    if (!options.stickers.empty())
        restated = WithStickers(runs, options.stickers);
    const std::vector<TJournalRun> &all = options.stickers.empty() ? runs : restated;
    std::vector<const TJournalRun *> written;
    for (const TJournalRun &run : all) {
        QStringList missing = ArshinMissing(run, lab);
        const auto info = options.additionalInfo.find(run.header.id);
        if (info != options.additionalInfo.end() && Chars(info->second.trimmed()) > 1024)
            missing << QStringLiteral("дополнительные сведения длиннее 1024 знаков");
        if (missing.isEmpty())
            written.push_back(&run);
        else if (skipped)
            skipped->push_back({run.header.id, missing});
    }
    if (written.empty()) {
        *error = QStringLiteral("нет поверок, готовых к выгрузке");
        return false;
    }
    for (const TJournalRun *run : written) {
        const auto protocol = options.protocols.find(run->header.id);
        if (protocol == options.protocols.end())
            continue;
        const QString name = QFileInfo(protocol->second).fileName();
        if (MimeTypeOf(protocol->second).isEmpty()) {
            *error = QStringLiteral("протокол %1: только .pdf, .doc, .zip или .djvu").arg(name);
            return false;
        }
        if (Chars(name) > 128) {
            *error = QStringLiteral("имя протокола %1 длиннее 128 знаков").arg(name);
            return false;
        }
    }

    const QFileInfo target(path);
    QTemporaryFile file(target.absoluteDir().filePath(target.fileName() + QStringLiteral(".XXXXXX")));
    if (!file.open()) {
        *error = QStringLiteral("не удалось создать файл в %1: %2").arg(target.absolutePath(), file.errorString());
        return false;
    }
    QXmlStreamWriter xml(&file);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeNamespace(kNamespace, QStringLiteral("gost"));
    xml.writeStartElement(kNamespace, QStringLiteral("application"));
    for (const TJournalRun *run : written) {
        xml.writeStartElement(kNamespace, QStringLiteral("result"));
        TArshinEntry entry = ArshinEntryOf(*run, lab);
        const auto info = options.additionalInfo.find(run->header.id);
        if (info != options.additionalInfo.end())
            entry.additionalInfo = info->second.trimmed();
        WriteEntry(xml, entry);
        const auto protocol = options.protocols.find(run->header.id);
        if (protocol != options.protocols.end() && !WriteProtocol(xml, protocol->second, error))
            return false;
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndDocument();
    if (xml.hasError() || !file.flush() || ::fsync(file.handle()) != 0) {
        *error = QStringLiteral("не удалось записать %1: %2").arg(path, file.errorString());
        return false;
    }
    if (!ValidateArshinFile(file.fileName(), ArshinSchemaPath(options.schemaPath), error))
        return false;
    file.setPermissions(
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    if (::rename(
            QFile::encodeName(file.fileName()).constData(), QFile::encodeName(target.absoluteFilePath()).constData())
        != 0) {
        *error = QStringLiteral("не удалось заменить %1: %2").arg(path, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    file.setAutoRemove(false);
    SyncFolder(target.absolutePath());
    return true;
}

QDate ArshinDeadline(const QDate &verification, bool usedAsStandard, const QSet<QDate> &holidays)
{
    if (!verification.isValid())
        return QDate();
    QDate day = verification;
    for (int left = usedAsStandard ? 20 : 40; left > 0;) {
        day = day.addDays(1);
        if (IsWorkingDay(day, holidays))
            --left;
    }
    return day;
}

int WorkingDaysLeft(const QDate &today, const QDate &deadline, const QSet<QDate> &holidays)
{
    int count = 0;
    if (today <= deadline) {
        for (QDate day = today.addDays(1); day <= deadline; day = day.addDays(1))
            count += IsWorkingDay(day, holidays) ? 1 : 0;
        return count;
    }
    for (QDate day = deadline.addDays(1); day <= today; day = day.addDays(1))
        count += IsWorkingDay(day, holidays) ? 1 : 0;
    return -std::max(count, 1);
}

QSet<QDate> ArshinDefaultHolidays()
{
    // Weekdays only (weekends are skipped anyway). 2026 with the government's transfers (9 January
    // and 31 December); 2027 from the Labour Code's own rules, since its transfers are decided a
    // year ahead: a lab adds them through the settings.
    static const char *const days[] = {"01.01.2026", "02.01.2026", "05.01.2026", "06.01.2026", "07.01.2026",
        "08.01.2026", "09.01.2026", "23.02.2026", "09.03.2026", "01.05.2026", "11.05.2026", "12.06.2026", "04.11.2026",
        "31.12.2026", "01.01.2027", "04.01.2027", "05.01.2027", "06.01.2027", "07.01.2027", "08.01.2027", "23.02.2027",
        "08.03.2027", "03.05.2027", "10.05.2027", "14.06.2027", "04.11.2027"};
    QSet<QDate> set;
    for (const char *day : days)
        set.insert(QDate::fromString(QString::fromLatin1(day), QStringLiteral("dd.MM.yyyy")));
    return set;
}

QSet<QDate> ArshinHolidays(const QString &text, QStringList *invalid)
{
    if (invalid)
        invalid->clear();
    if (text.trimmed().isEmpty())
        return ArshinDefaultHolidays();
    QSet<QDate> set;
    for (const QString &part : text.split(QRegularExpression(QStringLiteral("[,;\\s]+")), Qt::SkipEmptyParts)) {
        const QDate day = QDate::fromString(part, QStringLiteral("dd.MM.yyyy"));
        if (day.isValid())
            set.insert(day);
        else if (invalid)
            *invalid << part;
    }
    return set;
}

QString TArshinConfig::ReadSchema() const
{
    return ReadText(kSection, QStringLiteral("Schema"), QString()).trimmed();
}

void TArshinConfig::WriteSchema(const QString &path)
{
    WriteText(kSection, QStringLiteral("Schema"), path.trimmed());
}

QString TArshinConfig::ReadHolidaysText() const
{
    return ReadText(kSection, QStringLiteral("Holidays"), QString());
}

void TArshinConfig::WriteHolidaysText(const QString &text)
{
    WriteText(kSection, QStringLiteral("Holidays"), text);
}
