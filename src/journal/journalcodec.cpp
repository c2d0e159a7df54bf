#include "journal/journalcodec.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace KestJournalCodec {
namespace {

constexpr int kValueCount = TParameters::kCount;
constexpr int kValuesSize = 8 + 8 * kValueCount;
constexpr int kErrorSize = 2 + 1 + 8;
constexpr int kMaxCells = 1000;

void PutU64(QByteArray &out, quint64 v)
{
    char b[8];
    for (int i = 0; i < 8; ++i)
        b[i] = char((v >> (8 * i)) & 0xFF);
    out.append(b, 8);
}

quint64 GetU64(const char *p)
{
    quint64 v = 0;
    for (int i = 0; i < 8; ++i)
        v |= quint64(quint8(p[i])) << (8 * i);
    return v;
}

void PutDouble(QByteArray &out, double d)
{
    PutU64(out, std::bit_cast<quint64>(d));
}
double GetDouble(const char *p)
{
    return std::bit_cast<double>(GetU64(p));
}

// JSON has no NaN or infinity: such numbers travel as texts.
QJsonValue Num(double d)
{
    if (std::isfinite(d))
        return d;
    return QString::number(d);
}

double NumOf(const QJsonValue &v)
{
    if (v.isDouble())
        return v.toDouble();
    if (v.isString()) {
        bool ok = false;
        const double d = v.toString().toDouble(&ok);
        return ok ? d : 0.0;
    }
    return 0.0;
}

int IntOf(const QJsonValue &v, int fallback = 0)
{
    if (!v.isDouble())
        return fallback;
    const double d = v.toDouble();
    if (!std::isfinite(d) || d < -2147483647.0 || d > 2147483647.0)
        return fallback;
    return int(d);
}

QJsonArray KeyValuesJson(const TJournalKeyValues &values)
{
    QJsonArray a;
    for (const auto &[k, v] : values)
        a.append(QJsonArray{k, v});
    return a;
}

TJournalKeyValues KeyValuesOf(const QJsonValue &value)
{
    TJournalKeyValues out;
    for (const QJsonValue &item : value.toArray()) {
        const QJsonArray pair = item.toArray();
        if (pair.size() == 2)
            out.append({pair.at(0).toString(), pair.at(1).toString()});
    }
    return out;
}

QJsonArray StringsJson(const QStringList &list)
{
    QJsonArray a;
    for (const QString &s : list)
        a.append(s);
    return a;
}

QStringList StringsOf(const QJsonValue &value)
{
    QStringList out;
    for (const QJsonValue &v : value.toArray())
        out.append(v.toString());
    return out;
}

QJsonObject CoefsJson(const TTransfCoefs &c)
{
    return QJsonObject{{"U1", Num(c.U1)}, {"U2", Num(c.U2)}, {"I1", Num(c.I1)}, {"I2", Num(c.I2)}};
}

TTransfCoefs CoefsOf(const QJsonObject &o)
{
    TTransfCoefs c;
    c.U1 = NumOf(o.value("U1"));
    c.U2 = NumOf(o.value("U2"));
    c.I1 = NumOf(o.value("I1"));
    c.I2 = NumOf(o.value("I2"));
    return c;
}

QJsonObject DeviceJson(const TJournalDevice &d)
{
    return QJsonObject{{"type", d.type}, {"factoryNumber", d.factoryNumber}, {"modification", d.modification},
        {"coefficients", CoefsJson(d.coefficients)}, {"details", KeyValuesJson(d.details)}};
}

TJournalDevice DeviceOf(const QJsonObject &o)
{
    TJournalDevice d;
    d.type = o.value("type").toString();
    d.factoryNumber = o.value("factoryNumber").toString();
    d.modification = o.value("modification").toString();
    d.coefficients = CoefsOf(o.value("coefficients").toObject());
    d.details = KeyValuesOf(o.value("details"));
    return d;
}

QJsonObject ValuesJson(const TJournalValues &v)
{
    QJsonArray values;
    QString valid;
    for (int i = 0; i < kValueCount; ++i) {
        values.append(Num(v.values[i]));
        valid.append(v.valid[i] ? '1' : '0');
    }
    return QJsonObject{{"values", values}, {"valid", valid}};
}

TJournalValues ValuesOf(const QJsonObject &o)
{
    TJournalValues v;
    const QJsonArray values = o.value("values").toArray();
    const QString valid = o.value("valid").toString();
    for (int i = 0; i < kValueCount; ++i) {
        v.values[i] = i < values.size() ? NumOf(values.at(i)) : 0.0;
        v.valid[i] = i < valid.size() && valid.at(i) == '1';
    }
    return v;
}

QJsonArray ErrorsJson(const std::vector<TJournalError> &errors)
{
    QJsonArray a;
    for (const TJournalError &e : errors)
        a.append(QJsonArray{e.param, Num(e.error), e.overLimit});
    return a;
}

std::vector<TJournalError> ErrorsOf(const QJsonValue &value)
{
    std::vector<TJournalError> out;
    for (const QJsonValue &item : value.toArray()) {
        const QJsonArray e = item.toArray();
        if (e.size() == 3)
            out.push_back({IntOf(e.at(0)), NumOf(e.at(1)), e.at(2).toBool()});
    }
    return out;
}

std::optional<QJsonObject> ObjectOf(const QString &json)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    return doc.object();
}

QString Compact(const QJsonObject &o)
{
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

QString DateText(const QDate &date)
{
    return date.isValid() ? date.toString(Qt::ISODate) : QString();
}

QDate DateOf(const QJsonValue &v)
{
    return QDate::fromString(v.toString(), Qt::ISODate);
}

QJsonObject TypeJson(const TInstrumentType &t)
{
    return QJsonObject{{"id", t.id}, {"name", t.name}, {"typeNumber", t.typeNumber},
        {"modifications", StringsJson(t.modifications)}, {"procedure", t.procedure}, {"interval", t.intervalMonths},
        {"error", Num(t.permissibleError)}, {"kind", int(t.defaultKind)}, {"pointsSet", t.pointsSet},
        {"retired", t.retired}};
}

TVerificationKind KindOf(const QJsonValue &v)
{
    return IntOf(v) == int(TVerificationKind::Primary) ? TVerificationKind::Primary : TVerificationKind::Periodic;
}

TInstrumentType TypeOf(const QJsonObject &o)
{
    TInstrumentType t;
    t.id = o.value("id").toString();
    t.name = o.value("name").toString();
    t.typeNumber = o.value("typeNumber").toString();
    t.modifications = StringsOf(o.value("modifications"));
    t.procedure = o.value("procedure").toString();
    t.intervalMonths = std::clamp(IntOf(o.value("interval")), 0, 1200);
    t.permissibleError = NumOf(o.value("error"));
    t.defaultKind = KindOf(o.value("kind"));
    t.pointsSet = o.value("pointsSet").toString();
    t.retired = o.value("retired").toBool();
    return t;
}

QJsonObject StandardJson(const TStandard &s)
{
    QJsonObject limits;
    for (const auto &[kind, limit] : s.errorLimits)
        limits.insert(QuantityKindKey(kind), Num(limit));
    return QJsonObject{{"id", s.id}, {"name", s.name}, {"type", s.type}, {"typeNumber", s.typeNumber},
        {"serial", s.serial}, {"fundNumber", s.fundNumber}, {"certificate", s.certificate},
        {"validUntil", DateText(s.validUntil)}, {"kind", int(s.kind)}, {"role", s.role}, {"errorLimits", limits},
        {"retired", s.retired}, {"outOfToleranceSince", DateText(s.outOfToleranceSince)}};
}

TStandard StandardOf(const QJsonObject &o)
{
    TStandard s;
    s.id = o.value("id").toString();
    s.name = o.value("name").toString();
    s.type = o.value("type").toString();
    s.typeNumber = o.value("typeNumber").toString();
    s.serial = o.value("serial").toString();
    s.fundNumber = o.value("fundNumber").toString();
    s.certificate = o.value("certificate").toString();
    s.validUntil = DateOf(o.value("validUntil"));
    s.kind = IntOf(o.value("kind")) == int(TStandardKind::Auxiliary) ? TStandardKind::Auxiliary
                                                                     : TStandardKind::Installation;
    s.role = o.value("role").toString();
    const QJsonObject limits = o.value("errorLimits").toObject();
    for (auto it = limits.begin(); it != limits.end(); ++it) {
        if (const auto kind = QuantityKindFromKey(it.key()))
            s.errorLimits[*kind] = NumOf(it.value());
    }
    s.retired = o.value("retired").toBool();
    s.outOfToleranceSince = DateOf(o.value("outOfToleranceSince"));
    return s;
}

QJsonObject VerdictJson(const TVerdict &v)
{
    return QJsonObject{{"fit", v.fit}, {"reasons", StringsJson(v.reasons)}, {"overridden", v.overridden},
        {"overriddenBy", v.overriddenBy}, {"overriddenAt", QString::number(ToMs(v.overriddenAt))},
        {"overrideReason", v.overrideReason}};
}

TVerdict VerdictOf(const QJsonObject &o)
{
    TVerdict v;
    v.fit = o.value("fit").toBool();
    v.reasons = StringsOf(o.value("reasons"));
    v.overridden = o.value("overridden").toBool();
    v.overriddenBy = o.value("overriddenBy").toString();
    v.overriddenAt = FromMs(o.value("overriddenAt").toString().toLongLong());
    v.overrideReason = o.value("overrideReason").toString();
    return v;
}

// An unset condition is left out, so that it comes back unset rather than as 0.
QJsonObject ConditionsJson(const TRunConditions &c)
{
    QJsonObject o;
    auto put = [&o](const char *key, const std::optional<double> &v) {
        if (v)
            o.insert(QLatin1String(key), Num(*v));
    };
    put("temperature", c.temperature);
    put("humidity", c.humidity);
    put("pressure", c.pressure);
    put("supplyVoltage", c.supplyVoltage);
    put("supplyFrequency", c.supplyFrequency);
    return o;
}

TRunConditions ConditionsOf(const QJsonObject &o)
{
    TRunConditions c;
    auto get = [&o](const char *key, std::optional<double> &v) {
        const QJsonValue value = o.value(QLatin1String(key));
        if (value.isDouble() || value.isString())
            v = NumOf(value);
    };
    get("temperature", c.temperature);
    get("humidity", c.humidity);
    get("pressure", c.pressure);
    get("supplyVoltage", c.supplyVoltage);
    get("supplyFrequency", c.supplyFrequency);
    return c;
}

QJsonObject LabJson(const TLabRunRecord &lab)
{
    QJsonArray standards;
    for (const TStandard &s : lab.standards)
        standards.append(StandardJson(s));
    QJsonObject o{{"modification", lab.modification}, {"owner", lab.owner}, {"manufactureYear", lab.manufactureYear},
        {"kind", int(lab.kind)}, {"usedAsStandard", lab.usedAsStandard}, {"standardRegNumber", lab.standardRegNumber},
        {"conditions", ConditionsJson(lab.conditions)}, {"standards", standards},
        {"lowestAccuracyRatio", Num(lab.lowestAccuracyRatio)}, {"lowRatioNotes", StringsJson(lab.lowRatioNotes)}};
    if (lab.type)
        o.insert("type", TypeJson(*lab.type));
    return o;
}

TLabRunRecord LabOf(const QJsonObject &o)
{
    TLabRunRecord lab;
    if (o.value("type").isObject())
        lab.type = TypeOf(o.value("type").toObject());
    lab.modification = o.value("modification").toString();
    lab.owner = o.value("owner").toString();
    lab.manufactureYear = o.value("manufactureYear").toString();
    lab.kind = KindOf(o.value("kind"));
    lab.usedAsStandard = o.value("usedAsStandard").toBool();
    lab.standardRegNumber = o.value("standardRegNumber").toString();
    lab.conditions = ConditionsOf(o.value("conditions").toObject());
    for (const QJsonValue &s : o.value("standards").toArray())
        if (s.isObject())
            lab.standards.push_back(StandardOf(s.toObject()));
    lab.lowestAccuracyRatio = NumOf(o.value("lowestAccuracyRatio"));
    lab.lowRatioNotes = StringsOf(o.value("lowRatioNotes"));
    return lab;
}

} // namespace

QByteArray EncodeValues(const TJournalValues &values)
{
    QByteArray out;
    out.reserve(kValuesSize);
    PutU64(out, values.valid.to_ullong());
    for (double d : values.values)
        PutDouble(out, d);
    return out;
}

std::optional<TJournalValues> DecodeValues(const QByteArray &bytes)
{
    if (bytes.size() != kValuesSize)
        return std::nullopt;
    TJournalValues v;
    const char *p = bytes.constData();
    v.valid = std::bitset<kValueCount>(GetU64(p) & ((quint64(1) << kValueCount) - 1));
    for (int i = 0; i < kValueCount; ++i)
        v.values[i] = GetDouble(p + 8 + 8 * i);
    return v;
}

QByteArray EncodeErrors(const std::vector<TJournalError> &errors)
{
    QByteArray out;
    out.reserve(int(errors.size()) * kErrorSize);
    for (const TJournalError &e : errors) {
        const quint16 param = quint16(e.param);
        out.append(char(param & 0xFF));
        out.append(char(param >> 8));
        out.append(char(e.overLimit ? 1 : 0));
        PutDouble(out, e.error);
    }
    return out;
}

std::optional<std::vector<TJournalError>> DecodeErrors(const QByteArray &bytes)
{
    if (bytes.size() % kErrorSize != 0)
        return std::nullopt;
    std::vector<TJournalError> out;
    out.reserve(bytes.size() / kErrorSize);
    for (qsizetype at = 0; at < bytes.size(); at += kErrorSize) {
        const char *p = bytes.constData() + at;
        TJournalError e;
        e.param = int(quint8(p[0]) | (quint16(quint8(p[1])) << 8));
        e.overLimit = p[2] != 0;
        e.error = GetDouble(p + 3);
        out.push_back(e);
    }
    return out;
}

QByteArray EncodeAnalog(const std::array<double, 3> &analog)
{
    QByteArray out;
    for (double d : analog)
        PutDouble(out, d);
    return out;
}

std::optional<std::array<double, 3>> DecodeAnalog(const QByteArray &bytes)
{
    if (bytes.size() != 24)
        return std::nullopt;
    std::array<double, 3> out{};
    for (int i = 0; i < 3; ++i)
        out[i] = GetDouble(bytes.constData() + 8 * i);
    return out;
}

QString EncodeCells(const QStringList &cells)
{
    return QString::fromUtf8(QJsonDocument(StringsJson(cells)).toJson(QJsonDocument::Compact));
}

std::optional<QStringList> DecodeCells(const QString &text)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray())
        return std::nullopt;
    const QJsonArray a = doc.array();
    if (a.size() > kMaxCells)
        return std::nullopt;
    QStringList out;
    for (const QJsonValue &v : a) {
        if (!v.isString())
            return std::nullopt;
        out.append(v.toString());
    }
    return out;
}

qint64 EncodeMarks(const std::vector<bool> &marks)
{
    quint64 mask = 0;
    for (size_t i = 0; i < marks.size() && i < 63; ++i)
        if (marks[i])
            mask |= quint64(1) << i;
    return qint64(mask);
}

std::vector<bool> DecodeMarks(qint64 mask, int count)
{
    std::vector<bool> out(size_t(std::clamp(count, 0, kMaxCells)), false);
    for (size_t i = 0; i < out.size() && i < 63; ++i)
        out[i] = (quint64(mask) >> i) & 1;
    return out;
}

QString EncodeRunHeader(const TJournalRunHeader &h)
{
    QJsonArray tables;
    for (const TJournalTable &t : h.tables) {
        QJsonArray rows;
        for (const QStringList &r : t.rows)
            rows.append(StringsJson(r));
        QJsonArray widths;
        for (int w : t.columnWidths)
            widths.append(w);
        tables.append(QJsonObject{{"tab", t.tab}, {"title", t.title}, {"rs", t.rsInterface},
            {"inputColumns", t.inputColumnCount}, {"names", StringsJson(t.columnNames)},
            {"headers", StringsJson(t.headers)}, {"widths", widths}, {"rows", rows}});
    }
    QJsonArray planned;
    for (const TJournalPointRef &p : h.planned)
        planned.append(QJsonArray{p.tab, p.row});
    const QJsonObject limits{{"error", Num(h.limits.error)}, {"freqError", Num(h.limits.freqError)},
        {"analogError", Num(h.limits.analogError)}, {"aruError", Num(h.limits.aruError)}};
    const QJsonObject setup{{"currentRange", h.setup.currentRange}, {"voltageRange", h.setup.voltageRange},
        {"scheme", h.setup.scheme}, {"options", KeyValuesJson(h.setup.options)}};
    return Compact(QJsonObject{{"format", 1}, {"id", h.id}, {"started", QString::number(ToMs(h.started))},
        {"configuration", h.configuration}, {"programVersion", h.programVersion}, {"bench", h.bench},
        {"runMode", h.runMode}, {"device", DeviceJson(h.device)}, {"limits", limits}, {"setup", setup},
        {"tables", tables}, {"planned", planned}, {"reportData", KeyValuesJson(h.reportData)},
        {"lab", LabJson(h.lab)}});
}

std::optional<TJournalRunHeader> DecodeRunHeader(const QString &json)
{
    const auto object = ObjectOf(json);
    if (!object)
        return std::nullopt;
    const QJsonObject &o = *object;
    TJournalRunHeader h;
    h.id = o.value("id").toString();
    h.started = FromMs(o.value("started").toString().toLongLong());
    h.configuration = o.value("configuration").toString();
    h.programVersion = o.value("programVersion").toString();
    h.bench = o.value("bench").toString();
    h.runMode = o.value("runMode").toString();
    h.device = DeviceOf(o.value("device").toObject());
    const QJsonObject limits = o.value("limits").toObject();
    h.limits.error = NumOf(limits.value("error"));
    h.limits.freqError = NumOf(limits.value("freqError"));
    h.limits.analogError = NumOf(limits.value("analogError"));
    h.limits.aruError = NumOf(limits.value("aruError"));
    const QJsonObject setup = o.value("setup").toObject();
    h.setup.currentRange = setup.value("currentRange").toString();
    h.setup.voltageRange = setup.value("voltageRange").toString();
    h.setup.scheme = setup.value("scheme").toString();
    h.setup.options = KeyValuesOf(setup.value("options"));
    for (const QJsonValue &tv : o.value("tables").toArray()) {
        const QJsonObject t = tv.toObject();
        TJournalTable table;
        table.tab = IntOf(t.value("tab"));
        table.title = t.value("title").toString();
        table.rsInterface = t.value("rs").toBool(true);
        table.inputColumnCount = IntOf(t.value("inputColumns"));
        table.columnNames = StringsOf(t.value("names"));
        table.headers = StringsOf(t.value("headers"));
        for (const QJsonValue &w : t.value("widths").toArray())
            table.columnWidths.append(IntOf(w));
        for (const QJsonValue &r : t.value("rows").toArray())
            table.rows.push_back(StringsOf(r));
        h.tables.push_back(std::move(table));
    }
    for (const QJsonValue &pv : o.value("planned").toArray()) {
        const QJsonArray p = pv.toArray();
        if (p.size() == 2)
            h.planned.push_back({IntOf(p.at(0)), IntOf(p.at(1))});
    }
    h.reportData = KeyValuesOf(o.value("reportData"));
    h.lab = LabOf(o.value("lab").toObject());
    return h;
}

QString EncodeType(const TInstrumentType &type)
{
    return Compact(TypeJson(type));
}

std::optional<TInstrumentType> DecodeType(const QString &json)
{
    const auto o = ObjectOf(json);
    return o ? std::optional(TypeOf(*o)) : std::nullopt;
}

QString EncodeStandard(const TStandard &standard)
{
    return Compact(StandardJson(standard));
}

std::optional<TStandard> DecodeStandard(const QString &json)
{
    const auto o = ObjectOf(json);
    return o ? std::optional(StandardOf(*o)) : std::nullopt;
}

QString EncodeVerdict(const TVerdict &verdict)
{
    return Compact(VerdictJson(verdict));
}

std::optional<TVerdict> DecodeVerdict(const QString &json)
{
    const auto o = ObjectOf(json);
    return o ? std::optional(VerdictOf(*o)) : std::nullopt;
}

QString EncodeTuningHeader(const TJournalTuningHeader &h)
{
    return Compact(QJsonObject{{"format", 1}, {"id", h.id}, {"started", QString::number(ToMs(h.started))},
        {"configuration", h.configuration}, {"programVersion", h.programVersion}, {"bench", h.bench},
        {"verifier", h.verifier}, {"device", DeviceJson(h.device)}, {"settings", KeyValuesJson(h.settings)}});
}

std::optional<TJournalTuningHeader> DecodeTuningHeader(const QString &json)
{
    const auto object = ObjectOf(json);
    if (!object)
        return std::nullopt;
    const QJsonObject &o = *object;
    TJournalTuningHeader h;
    h.id = o.value("id").toString();
    h.started = FromMs(o.value("started").toString().toLongLong());
    h.configuration = o.value("configuration").toString();
    h.programVersion = o.value("programVersion").toString();
    h.bench = o.value("bench").toString();
    h.verifier = o.value("verifier").toString();
    h.device = DeviceOf(o.value("device").toObject());
    h.settings = KeyValuesOf(o.value("settings"));
    return h;
}

QString EncodeReadback(const TJournalReadback &r)
{
    return Compact(QJsonObject{{"time", QString::number(ToMs(r.time))}, {"device", ValuesJson(r.device)},
        {"installation", ValuesJson(r.installation)}, {"errors", ErrorsJson(r.errors)},
        {"details", KeyValuesJson(r.details)}});
}

std::optional<TJournalReadback> DecodeReadback(const QString &json)
{
    const auto object = ObjectOf(json);
    if (!object)
        return std::nullopt;
    const QJsonObject &o = *object;
    TJournalReadback r;
    r.time = FromMs(o.value("time").toString().toLongLong());
    r.device = ValuesOf(o.value("device").toObject());
    r.installation = ValuesOf(o.value("installation").toObject());
    r.errors = ErrorsOf(o.value("errors"));
    r.details = KeyValuesOf(o.value("details"));
    return r;
}

qint64 ToMs(const QDateTime &time)
{
    return time.isValid() ? time.toMSecsSinceEpoch() : 0;
}

QDateTime FromMs(qint64 ms)
{
    // Beyond the years QDateTime handles sensibly a stored number is damage, not a time.
    constexpr qint64 kLimit = qint64(1) << 47;
    if (ms == 0 || ms <= -kLimit || ms >= kLimit)
        return QDateTime();
    return QDateTime::fromMSecsSinceEpoch(ms);
}

} // namespace KestJournalCodec
