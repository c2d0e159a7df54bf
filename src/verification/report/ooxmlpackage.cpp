#include "verification/report/ooxmlpackage.h"

#include "verification/report/reporterror.h"

#include <QFile>

#include <zip.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

namespace {

struct TStringWriter : pugi::xml_writer {
    std::string text;
    void write(const void *data, size_t size) override { text.append(static_cast<const char *>(data), size); }
};

std::string StripSlash(const std::string &name)
{
    return !name.empty() && name.front() == '/' ? name.substr(1) : name;
}

// "word/" + "../customXml/item1.xml" and the like, to a part name without a leading slash.
std::string ResolvePath(const std::string &baseFolder, const std::string &target)
{
    std::string path = !target.empty() && target.front() == '/' ? target.substr(1) : baseFolder + target;
    std::vector<std::string> pieces;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string piece = path.substr(start, end - start);
        if (piece == "..") {
            if (!pieces.empty())
                pieces.pop_back();
        } else if (!piece.empty() && piece != ".") {
            pieces.push_back(piece);
        }
        start = end + 1;
    }
    std::string result;
    for (const std::string &piece : pieces)
        result += (result.empty() ? "" : "/") + piece;
    return result;
}

std::string FolderOf(const std::string &partName)
{
    const size_t slash = partName.rfind('/');
    return slash == std::string::npos ? std::string() : partName.substr(0, slash + 1);
}

bool EqualNoCase(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

bool IsDeclaration(const char *name, std::string *prefix)
{
    if (std::strcmp(name, "xmlns") == 0) {
        prefix->clear();
        return true;
    }
    if (std::strncmp(name, "xmlns:", 6) == 0) {
        *prefix = name + 6;
        return true;
    }
    return false;
}

std::string PrefixOf(const char *name)
{
    const char *colon = std::strchr(name, ':');
    return colon ? std::string(name, size_t(colon - name)) : std::string();
}

const char *LocalOf(const char *name)
{
    const char *colon = std::strchr(name, ':');
    return colon ? colon + 1 : name;
}

// Generators bind namespaces wherever they like (openpyxl on every <sheet> of a workbook, others on
// the first element that needs one); the writers look names up by the prefixes the root binds. Every
// declaration below the root moves up to it (under its own prefix when the root leaves that free, else
// under the root's prefix for the namespace or a new one), and every name is renamed to that prefix,
// so that a prefix means one namespace throughout the part.
void HoistNamespaces(pugi::xml_node root)
{
    struct TBinding {
        std::string prefix, uri;
    };
    std::vector<TBinding> hoisted;
    std::map<std::string, std::string> rootUri; // prefix → namespace, as the root binds them
    std::string prefix;
    for (pugi::xml_attribute attribute : root.attributes())
        if (IsDeclaration(attribute.name(), &prefix))
            rootUri[prefix] = attribute.value();
    std::vector<pugi::xml_node> stack;
    for (pugi::xml_node child : root.children())
        if (child.type() == pugi::node_element)
            stack.push_back(child);
    while (!stack.empty()) {
        pugi::xml_node node = stack.back();
        stack.pop_back();
        for (pugi::xml_attribute attribute : node.attributes())
            if (IsDeclaration(attribute.name(), &prefix)) {
                if (prefix.empty() && !*attribute.value() && rootUri.count(""))
                    return; // names taken out of the root's default namespace: no prefix can say that
                hoisted.push_back({prefix, attribute.value()});
            }
        for (pugi::xml_node child : node.children())
            if (child.type() == pugi::node_element)
                stack.push_back(child);
    }
    if (hoisted.empty())
        return;
    std::map<std::string, std::string> rootPrefix; // namespace → the prefix the root binds it to
    for (const auto &[p, uri] : rootUri)
        rootPrefix.emplace(uri, p);
    for (const TBinding &binding : hoisted) {
        if (binding.uri.empty() || rootPrefix.count(binding.uri))
            continue;
        std::string chosen = binding.prefix; // never the default: unprefixed names elsewhere keep theirs
        for (int k = 1; chosen.empty() || rootUri.count(chosen); ++k)
            chosen = "ns" + std::to_string(k);
        rootUri[chosen] = binding.uri;
        rootPrefix[binding.uri] = chosen;
        root.append_attribute(chosen.empty() ? "xmlns" : ("xmlns:" + chosen).c_str()) = binding.uri.c_str();
    }

    // Renaming: each element's and attribute's prefix resolved in its own scope.
    struct TFrame {
        pugi::xml_node node;
        size_t scopeSize;
    };
    std::vector<TBinding> scope;
    for (const auto &[p, uri] : rootUri)
        scope.push_back({p, uri});
    const auto resolve = [&scope](const std::string &p) -> const std::string * {
        for (auto it = scope.rbegin(); it != scope.rend(); ++it)
            if (it->prefix == p)
                return &it->uri;
        return nullptr;
    };
    const auto renamed = [&](const char *name, bool attribute) -> std::string {
        const std::string p = PrefixOf(name);
        if (attribute && p.empty())
            return std::string(); // an unprefixed attribute is in no namespace
        const std::string *uri = resolve(p);
        if (!uri || uri->empty())
            return std::string();
        const auto target = rootPrefix.find(*uri);
        if (target == rootPrefix.end() || target->second == p)
            return std::string();
        return target->second.empty() ? std::string(LocalOf(name)) : target->second + ":" + LocalOf(name);
    };
    std::vector<TFrame> frames;
    for (pugi::xml_node child = root.last_child(); child; child = child.previous_sibling())
        if (child.type() == pugi::node_element)
            frames.push_back({child, scope.size()});
    while (!frames.empty()) {
        const TFrame frame = frames.back();
        frames.pop_back();
        scope.resize(frame.scopeSize);
        pugi::xml_node node = frame.node;
        for (pugi::xml_attribute attribute = node.first_attribute(); attribute;) {
            pugi::xml_attribute next = attribute.next_attribute();
            if (IsDeclaration(attribute.name(), &prefix)) {
                scope.push_back({prefix, attribute.value()});
                node.remove_attribute(attribute);
            }
            attribute = next;
        }
        const std::string name = renamed(node.name(), false);
        if (!name.empty())
            node.set_name(name.c_str());
        for (pugi::xml_attribute attribute : node.attributes()) {
            if (std::strncmp(attribute.name(), "xml:", 4) == 0)
                continue;
            const std::string attributeName = renamed(attribute.name(), true);
            if (!attributeName.empty())
                attribute.set_name(attributeName.c_str());
        }
        for (pugi::xml_node child = node.last_child(); child; child = child.previous_sibling())
            if (child.type() == pugi::node_element)
                frames.push_back({child, scope.size()});
    }
}

} // namespace

TOoxmlPackage::TOoxmlPackage() = default;

TOoxmlPackage::~TOoxmlPackage()
{
    Close();
}

void TOoxmlPackage::Fail(const QString &message) const
{
    throw EReportError(message);
}

void TOoxmlPackage::OpenFile(const QString &path, const QString &what, const QString &shown)
{
    Close();
    int error = 0;
    struct zip *archive = zip_open(QFile::encodeName(path).constData(), 0, &error);
    if (!archive)
        Fail(QStringLiteral("%1 «%2» не является документом Office Open XML (файл не читается как zip-архив)")
                 .arg(what, shown.isEmpty() ? path : shown));
    Open(archive, what);
    path_ = path;
}

void TOoxmlPackage::OpenBytes(const QByteArray &bytes, const QString &what)
{
    Close();
    bytes_ = bytes;
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *source = zip_source_buffer_create(bytes_.constData(), bytes_.size(), 0, &error);
    struct zip *archive = source ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr;
    zip_error_fini(&error);
    if (!archive) {
        if (source)
            zip_source_free(source);
        Fail(QStringLiteral("%1 не является документом Office Open XML (не zip-архив)").arg(what));
    }
    Open(archive, what);
}

void TOoxmlPackage::OpenParts(const std::map<std::string, QByteArray> &parts, const QString &what)
{
    Close();
    for (const auto &[name, content] : parts)
        memory_[StripSlash(name)] = content;
    memory_.emplace(std::string(), QByteArray()); // marks the package open even without parts
    what_ = what;
}

void TOoxmlPackage::Open(struct zip *archive, const QString &what)
{
    archive_ = archive;
    what_ = what;
}

void TOoxmlPackage::Close()
{
    if (archive_)
        zip_discard(archive_);
    archive_ = nullptr;
    parts_.clear();
    binary_.clear();
    bytes_.clear();
    path_.clear();
    memory_.clear();
}

bool TOoxmlPackage::HasPart(const std::string &name) const
{
    if (binary_.count(StripSlash(name)))
        return true;
    const auto it = parts_.find(StripSlash(name));
    if (it != parts_.end())
        return it->second.doc != nullptr;
    if (!archive_) {
        const std::string wanted = StripSlash(name);
        for (const auto &[part, content] : memory_)
            if (!part.empty() && EqualNoCase(part, wanted))
                return true;
        return false;
    }
    return zip_name_locate(archive_, StripSlash(name).c_str(), ZIP_FL_NOCASE) >= 0;
}

QByteArray TOoxmlPackage::ReadPart(const std::string &rawName) const
{
    const std::string name = StripSlash(rawName);
    if (!archive_) {
        for (const auto &[part, content] : memory_)
            if (!part.empty() && EqualNoCase(part, name)) {
                if (content.size() > kMaxPartSize)
                    Fail(QStringLiteral("%1: часть «%2» слишком велика").arg(what_, QString::fromStdString(name)));
                return content;
            }
        Fail(QStringLiteral("%1: нет части «%2»").arg(what_, QString::fromStdString(name)));
    }
    const zip_int64_t index = archive_ ? zip_name_locate(archive_, name.c_str(), ZIP_FL_NOCASE) : -1;
    if (index < 0)
        Fail(QStringLiteral("%1: нет части «%2»").arg(what_, QString::fromStdString(name)));
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(archive_, index, 0, &stat) != 0)
        Fail(QStringLiteral("%1: часть «%2» не читается").arg(what_, QString::fromStdString(name)));
    if ((stat.valid & ZIP_STAT_SIZE) && stat.size > quint64(kMaxPartSize))
        Fail(QStringLiteral("%1: часть «%2» слишком велика").arg(what_, QString::fromStdString(name)));
    zip_file_t *file = zip_fopen_index(archive_, index, 0);
    if (!file)
        Fail(QStringLiteral("%1: часть «%2» повреждена").arg(what_, QString::fromStdString(name)));
    QByteArray content;
    if (stat.valid & ZIP_STAT_SIZE)
        content.reserve(qsizetype(stat.size));
    char buffer[65536];
    for (;;) {
        const zip_int64_t got = zip_fread(file, buffer, sizeof buffer);
        if (got < 0) {
            zip_fclose(file);
            Fail(QStringLiteral("%1: часть «%2» повреждена").arg(what_, QString::fromStdString(name)));
        }
        if (got == 0)
            break;
        if (content.size() + got > kMaxPartSize) {
            zip_fclose(file);
            Fail(QStringLiteral("%1: часть «%2» слишком велика").arg(what_, QString::fromStdString(name)));
        }
        content.append(buffer, qsizetype(got));
    }
    zip_fclose(file);
    return content;
}

pugi::xml_document &TOoxmlPackage::Xml(const std::string &rawName)
{
    pugi::xml_document *doc = XmlIfPresent(rawName);
    if (!doc)
        Fail(QStringLiteral("%1: нет части «%2»").arg(what_, QString::fromStdString(StripSlash(rawName))));
    return *doc;
}

pugi::xml_document *TOoxmlPackage::XmlIfPresent(const std::string &rawName)
{
    const std::string name = StripSlash(rawName);
    auto it = parts_.find(name);
    if (it != parts_.end())
        return it->second.doc.get();
    if (!HasPart(name))
        return nullptr;
    const QByteArray content = ReadPart(name);
    auto doc = std::make_unique<pugi::xml_document>();
    const pugi::xml_parse_result result
        = doc->load_buffer(content.constData(), size_t(content.size()), kXmlParseFlags, pugi::encoding_auto);
    if (!result)
        Fail(QStringLiteral("%1: часть «%2» содержит ошибку XML (%3, позиция %4)")
                 .arg(what_, QString::fromStdString(name), QString::fromUtf8(result.description()))
                 .arg(qlonglong(result.offset)));
    HoistNamespaces(doc->document_element());
    pugi::xml_document *raw = doc.get();
    parts_[name] = TPart{std::move(doc), false};
    return raw;
}

pugi::xml_document &TOoxmlPackage::CreateXml(const std::string &rawName)
{
    const std::string name = StripSlash(rawName);
    auto doc = std::make_unique<pugi::xml_document>();
    pugi::xml_node decl = doc->append_child(pugi::node_declaration);
    decl.append_attribute("version") = "1.0";
    decl.append_attribute("encoding") = "UTF-8";
    decl.append_attribute("standalone") = "yes";
    HoistNamespaces(doc->document_element());
    pugi::xml_document *raw = doc.get();
    parts_[name] = TPart{std::move(doc), true};
    return *raw;
}

void TOoxmlPackage::Touch(const std::string &rawName)
{
    auto it = parts_.find(StripSlash(rawName));
    if (it != parts_.end())
        it->second.changed = true;
}

void TOoxmlPackage::PutBinary(const std::string &rawName, const QByteArray &bytes)
{
    binary_[StripSlash(rawName)] = bytes;
}

void TOoxmlPackage::RemovePart(const std::string &rawName)
{
    const std::string name = StripSlash(rawName);
    parts_[name] = TPart{nullptr, true};
}

std::string TOoxmlPackage::RelsPartName(const std::string &rawName)
{
    const std::string partName = StripSlash(rawName);
    const std::string folder = FolderOf(partName);
    return folder + "_rels/" + partName.substr(folder.size()) + ".rels";
}

std::map<std::string, TOoxmlPackage::TRelation> TOoxmlPackage::Relations(const std::string &rawName)
{
    const std::string partName = StripSlash(rawName);
    std::map<std::string, TRelation> result;
    pugi::xml_document *rels = XmlIfPresent(RelsPartName(partName));
    if (!rels)
        return result;
    for (pugi::xml_node rel : rels->document_element().children()) {
        if (std::strcmp(rel.name(), "Relationship") != 0)
            continue;
        TRelation r;
        r.id = rel.attribute("Id").value();
        r.type = rel.attribute("Type").value();
        r.external = EqualNoCase(rel.attribute("TargetMode").value(), "External");
        r.target = r.external ? rel.attribute("Target").value()
                              : ResolvePath(FolderOf(partName), rel.attribute("Target").value());
        result[r.id] = r;
    }
    return result;
}

std::string TOoxmlPackage::MainPart()
{
    for (const auto &[id, rel] : Relations(""))
        if (rel.type.size() >= 15 && rel.type.compare(rel.type.size() - 15, 15, "/officeDocument") == 0)
            return rel.target;
    Fail(QStringLiteral("%1: в пакете нет основной части документа").arg(what_));
    return {};
}

std::string TOoxmlPackage::ContentType(const std::string &rawName)
{
    const std::string partName = "/" + StripSlash(rawName);
    pugi::xml_node types = Xml("[Content_Types].xml").document_element();
    for (pugi::xml_node item : types.children("Override"))
        if (EqualNoCase(item.attribute("PartName").value(), partName))
            return item.attribute("ContentType").value();
    const size_t dot = partName.rfind('.');
    const std::string extension = dot == std::string::npos ? std::string() : partName.substr(dot + 1);
    for (pugi::xml_node item : types.children("Default"))
        if (EqualNoCase(item.attribute("Extension").value(), extension))
            return item.attribute("ContentType").value();
    return {};
}

void TOoxmlPackage::SetContentTypeOverride(const std::string &rawName, const std::string &type)
{
    const std::string partName = "/" + StripSlash(rawName);
    pugi::xml_node types = Xml("[Content_Types].xml").document_element();
    Touch("[Content_Types].xml");
    for (pugi::xml_node item : types.children("Override"))
        if (EqualNoCase(item.attribute("PartName").value(), partName)) {
            if (type.empty())
                types.remove_child(item);
            else
                item.attribute("ContentType") = type.c_str();
            return;
        }
    if (type.empty())
        return;
    pugi::xml_node item = types.append_child("Override");
    item.append_attribute("PartName") = partName.c_str();
    item.append_attribute("ContentType") = type.c_str();
}

std::map<std::string, std::string> TOoxmlPackage::Serialise()
{
    std::map<std::string, std::string> result;
    for (auto &[name, part] : parts_) {
        if (!part.changed || !part.doc)
            continue;
        TStringWriter writer;
        part.doc->save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
        result[name] = std::move(writer.text);
    }
    return result;
}

void TOoxmlPackage::Commit()
{
    if (!archive_)
        Fail(QStringLiteral("%1 не открыт").arg(what_));
    for (auto &[name, part] : parts_) {
        if (!part.changed)
            continue;
        zip_int64_t index = zip_name_locate(archive_, name.c_str(), ZIP_FL_NOCASE);
        if (!part.doc) {
            if (index >= 0)
                zip_delete(archive_, zip_uint64_t(index));
            continue;
        }
        TStringWriter writer;
        part.doc->save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
        void *copy = std::malloc(writer.text.size() ? writer.text.size() : 1);
        if (!copy)
            Fail(QStringLiteral("Недостаточно памяти для записи отчёта"));
        std::memcpy(copy, writer.text.data(), writer.text.size());
        zip_source_t *source = zip_source_buffer(archive_, copy, writer.text.size(), 1);
        if (!source) {
            std::free(copy);
            Fail(QStringLiteral("Недостаточно памяти для записи отчёта"));
        }
        // A part of thousands of table rows compresses at the fastest level: a third of the time for a
        // file a little larger. An entry replaced keeps its old level, so a large one is added anew.
        const bool large = writer.text.size() > 1024 * 1024;
        if (large && index >= 0 && zip_delete(archive_, zip_uint64_t(index)) == 0)
            index = -1;
        const zip_int64_t added = index >= 0
            ? (zip_file_replace(archive_, zip_uint64_t(index), source, 0) == 0 ? index : -1)
            : zip_file_add(archive_, name.c_str(), source, ZIP_FL_ENC_UTF_8);
        if (added < 0) {
            zip_source_free(source);
            Fail(QStringLiteral("%1: не удалось записать часть «%2»").arg(what_, QString::fromStdString(name)));
        }
        zip_set_file_compression(archive_, zip_uint64_t(added), ZIP_CM_DEFLATE, large ? 1 : 6);
    }
    for (const auto &[name, bytes] : binary_) {
        void *copy = std::malloc(bytes.size() ? size_t(bytes.size()) : 1);
        if (!copy)
            Fail(QStringLiteral("Недостаточно памяти для записи отчёта"));
        std::memcpy(copy, bytes.constData(), size_t(bytes.size()));
        zip_source_t *source = zip_source_buffer(archive_, copy, zip_uint64_t(bytes.size()), 1);
        if (!source) {
            std::free(copy);
            Fail(QStringLiteral("Недостаточно памяти для записи отчёта"));
        }
        const zip_int64_t index = zip_name_locate(archive_, name.c_str(), ZIP_FL_NOCASE);
        const zip_int64_t added = index >= 0
            ? (zip_file_replace(archive_, zip_uint64_t(index), source, 0) == 0 ? index : -1)
            : zip_file_add(archive_, name.c_str(), source, ZIP_FL_ENC_UTF_8);
        if (added < 0) {
            zip_source_free(source);
            Fail(QStringLiteral("%1: не удалось записать часть «%2»").arg(what_, QString::fromStdString(name)));
        }
        zip_set_file_compression(archive_, zip_uint64_t(added), ZIP_CM_STORE, 0); // a picture is compressed already
    }
    binary_.clear();
    // zip_close writes a temporary file in the same folder and renames it over the original.
    if (zip_close(archive_) != 0) {
        const QString reason = QString::fromLocal8Bit(zip_error_strerror(zip_get_error(archive_)));
        zip_discard(archive_);
        archive_ = nullptr;
        parts_.clear();
        Fail(QStringLiteral("Не удалось записать отчёт: %1").arg(reason));
    }
    archive_ = nullptr;
    parts_.clear();
    // The rename is done; make the content durable before the report is published under its name.
    const int fd = ::open(QFile::encodeName(path_).constData(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        const bool synced = ::fsync(fd) == 0;
        ::close(fd);
        if (!synced)
            Fail(QStringLiteral("Не удалось записать отчёт на диск: %1").arg(path_));
    }
}

TXmlNames::TXmlNames(pugi::xml_node root, const char *uri, const char *strictUri)
{
    for (pugi::xml_attribute attribute : root.attributes()) {
        const char *name = attribute.name();
        const bool matches
            = std::strcmp(attribute.value(), uri) == 0 || (strictUri && std::strcmp(attribute.value(), strictUri) == 0);
        if (!matches)
            continue;
        if (std::strcmp(name, "xmlns") == 0) {
            prefix_.clear();
            found = true;
            return;
        }
        if (std::strncmp(name, "xmlns:", 6) == 0) {
            prefix_ = name + 6;
            found = true;
            return;
        }
    }
}

std::string XmlText(pugi::xml_node node)
{
    std::string text;
    for (pugi::xml_node child : node.children())
        if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata)
            text += child.value();
    return text;
}

void SetXmlText(pugi::xml_node node, const std::string &text)
{
    while (node.first_child())
        node.remove_child(node.first_child());
    node.append_child(pugi::node_pcdata).set_value(text.c_str());
}

QString XmlSafe(const QString &text)
{
    QString result = text;
    for (QChar &c : result) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != '\t' && u != '\n' && u != '\r') || u == 0xFFFE || u == 0xFFFF)
            c = QLatin1Char(' ');
    }
    return result;
}
