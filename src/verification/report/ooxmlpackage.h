#pragma once
// An Office Open XML package (.docx, .xlsx: a zip of XML parts) opened for editing. Parts are read
// on demand and parsed with pugixml; only the parts a writer changes are written back, every other
// entry (pictures, headers, footers, styles left alone) is copied as it was, still compressed.
// Committing writes the whole archive to a temporary file beside the original and renames it over
// the original, so the file on disk is always either the old archive or the complete new one.

#include <QByteArray>
#include <QString>

#include <pugixml.hpp>

#include <map>
#include <memory>
#include <string>

struct zip;

class TOoxmlPackage {
public:
    // The largest part read (uncompressed); larger ones are taken for a damaged or hostile file.
    static constexpr qint64 kMaxPartSize = 256LL * 1024 * 1024;

    TOoxmlPackage();
    ~TOoxmlPackage();
    TOoxmlPackage(const TOoxmlPackage &) = delete;
    TOoxmlPackage &operator=(const TOoxmlPackage &) = delete;

    // Raise EReportError with `what` (the document kind, for the message) when the file or the
    // bytes are not a zip archive.
    // `shown` names the file in messages (the template a working copy was made of); empty: `path`.
    void OpenFile(const QString &path, const QString &what, const QString &shown = QString());
    void OpenBytes(const QByteArray &bytes, const QString &what);

    // A package given as its parts, without a zip (checks and fuzzing): everything but Commit works.
    void OpenParts(const std::map<std::string, QByteArray> &parts, const QString &what);

    bool IsOpen() const { return archive_ != nullptr || !memory_.empty(); }
    bool HasPart(const std::string &name) const;
    QByteArray ReadPart(const std::string &name) const;

    // The part parsed (kept and shared until Commit); raises EReportError on malformed XML or a
    // missing part.
    pugi::xml_document &Xml(const std::string &name);
    // The same, or nullptr when the package has no such part.
    pugi::xml_document *XmlIfPresent(const std::string &name);
    // A new part (or a replaced one) whose content is this document.
    pugi::xml_document &CreateXml(const std::string &name);
    // Marks a parsed part as changed: it is serialised and written back on Commit.
    void Touch(const std::string &name);
    void RemovePart(const std::string &name);
    // A part that is not XML (a picture), written as it is on Commit.
    void PutBinary(const std::string &name, const QByteArray &bytes);

    // The relationship targets of a part, resolved to part names ("word/document.xml").
    // `rels` maps relationship id to target part.
    struct TRelation {
        std::string id, type, target;
        bool external = false;
    };
    std::map<std::string, TRelation> Relations(const std::string &partName);
    static std::string RelsPartName(const std::string &partName);
    // The package's main part (the target of the officeDocument relationship).
    std::string MainPart();
    // The content type of a part ([Content_Types].xml: an override, else the default by extension).
    std::string ContentType(const std::string &partName);
    void SetContentTypeOverride(const std::string &partName, const std::string &type);

    // Serialises the changed parts into the archive and writes it out (see above); raises
    // EReportError when the file cannot be written. The package is closed afterwards.
    void Commit();
    // The changed parts serialised, without writing anything (what Commit would store).
    std::map<std::string, std::string> Serialise();
    void Close();

private:
    struct TPart {
        std::unique_ptr<pugi::xml_document> doc;
        bool changed = false;
    };
    void Open(struct zip *archive, const QString &what);
    void Fail(const QString &message) const;

    struct zip *archive_ = nullptr;
    QByteArray bytes_; // keeps an archive opened from memory alive
    QString path_;
    std::map<std::string, QByteArray> memory_;
    QString what_;
    std::map<std::string, TPart> parts_;
    std::map<std::string, QByteArray> binary_;
};

// The qualified name of an element of a namespace, with whatever prefix the document binds it to.
class TXmlNames {
public:
    TXmlNames() = default;
    // The prefix `root` (or an ancestor declaration on it) binds `uri` to; `found` false when none.
    TXmlNames(pugi::xml_node root, const char *uri, const char *strictUri = nullptr);
    bool found = false;
    std::string Name(const char *local) const { return prefix_.empty() ? local : prefix_ + ":" + local; }
    const std::string &Prefix() const { return prefix_; }

private:
    std::string prefix_;
};

// Text content of an element (its PCDATA and CDATA children joined) and its replacement by one
// PCDATA child.
std::string XmlText(pugi::xml_node node);
void SetXmlText(pugi::xml_node node, const std::string &text);
// Characters XML 1.0 cannot carry (control characters other than tab, line feed, carriage return)
// become blanks.
QString XmlSafe(const QString &text);
// Parse flags that keep every character of text (blanks inside a run are content).
constexpr unsigned kXmlParseFlags = pugi::parse_default | pugi::parse_ws_pcdata | pugi::parse_declaration;
