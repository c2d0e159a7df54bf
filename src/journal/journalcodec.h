#pragma once
// How journal records are kept in the database columns: the headers as compact JSON, reading sets
// and errors as little-endian binary (doubles bit for bit, the same on every machine and in both
// databases), a row's cells as a JSON array and its marks as a bit mask.
//
// The decoders take what a file or a server gives back, which may be damaged: they never trust a
// length, and a value that does not decode gives nullopt (or a default), never a crash.

#include "journal/journalrecords.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace KestJournalCodec {

QByteArray EncodeValues(const TJournalValues &values);
std::optional<TJournalValues> DecodeValues(const QByteArray &bytes);

QByteArray EncodeErrors(const std::vector<TJournalError> &errors);
std::optional<std::vector<TJournalError>> DecodeErrors(const QByteArray &bytes);

QByteArray EncodeAnalog(const std::array<double, 3> &analog);
std::optional<std::array<double, 3>> DecodeAnalog(const QByteArray &bytes);

QString EncodeCells(const QStringList &cells);
std::optional<QStringList> DecodeCells(const QString &text);

// Marks of the first 63 cells (a table has at most 21 columns).
qint64 EncodeMarks(const std::vector<bool> &marks);
std::vector<bool> DecodeMarks(qint64 mask, int count);

QString EncodeRunHeader(const TJournalRunHeader &header);
std::optional<TJournalRunHeader> DecodeRunHeader(const QString &json);

// The laboratory's registers and a run's conclusion. A run header carries its TLabRunRecord under
// "lab"; a header written before it has none and gives an empty record.
QString EncodeType(const TInstrumentType &type);
std::optional<TInstrumentType> DecodeType(const QString &json);
QString EncodeStandard(const TStandard &standard);
std::optional<TStandard> DecodeStandard(const QString &json);
QString EncodeVerdict(const TVerdict &verdict);
std::optional<TVerdict> DecodeVerdict(const QString &json);

QString EncodeTuningHeader(const TJournalTuningHeader &header);
std::optional<TJournalTuningHeader> DecodeTuningHeader(const QString &json);

QString EncodeReadback(const TJournalReadback &readback);
std::optional<TJournalReadback> DecodeReadback(const QString &json);

// Milliseconds since the epoch (UTC) and back; an invalid time is 0 and 0 is an invalid time.
qint64 ToMs(const QDateTime &time);
QDateTime FromMs(qint64 ms);

} // namespace KestJournalCodec
