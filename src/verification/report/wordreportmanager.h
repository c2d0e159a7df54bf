#pragma once
// The word-processor back end: a .docx report from a .docx (or .dotx) template, written without a
// word processor. Placeholders are found in the document's text in document order, from where the
// last one was found on, wrapping round to the start, case-insensitively, also where the word
// processor has split one over several runs of text; in page headers and footers every occurrence is
// filled. Tables are laid out from their content (wordlayout.h).

#include "verification/report/reportmanager.h"

#include <QByteArray>
#include <QStringList>

#include <map>
#include <memory>
#include <string>

class TWordReportManager : public TReportManager {
public:
    TWordReportManager();
    ~TWordReportManager() override;

    void AddTable(const TReportTable &table, const TReportMarks &redCells) override;
    void ReplaceTagWithValue(const QString &tag, const QString &value, int replaceMode) override;
    void OpenDoc(const QString &path) override;
    void SaveAndCloseDoc(const QString &path) override;
    void RemoveTableTagsFromReport() override;

    // A template held in memory, for checks that write nothing; DocumentXml is the document part
    // as it stands.
    void OpenBytes(const QByteArray &bytes);
    void OpenParts(const std::map<std::string, QByteArray> &parts);
    std::string DocumentXml();

    // The placeholders the template holds whose value was empty, in the order they were asked for,
    // and the one message that lists them to the user after the report is written (empty: none).
    QStringList UnfilledPlaceholders() const;
    static QString UnfilledMessage(const QStringList &placeholders);

    // The colour of a marked cell (RGB 250, 128, 114).
    static constexpr const char *kMarkFill = "FA8072";

private:
    struct TImpl;
    std::unique_ptr<TImpl> d_;
};
