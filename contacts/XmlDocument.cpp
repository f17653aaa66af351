#include "contacts/XmlDocument.h"

#include "contacts/ContactBook.h"

#include "files/AtomicFile.h"
#include "protocol/Hash.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/xmlIO.h>
#include <libxml/xmlsave.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace lanquill::contacts {

namespace fnv1a = protocol::fnv1a;

namespace {

const xmlChar* X(const char* s) {
    return reinterpret_cast<const xmlChar*>(s);
}
const char* C(const xmlChar* s) {
    return reinterpret_cast<const char*>(s);
}

std::string takeXmlString(xmlChar* s) {
    if (s == nullptr)
        return {};
    std::string out(C(s));
    xmlFree(s);
    return out;
}

std::string errnoText(int err) {
    return std::strerror(err);
}

// Nothing outside the book file is ever read: no DTD, no external entity, no XInclude.
xmlParserInputPtr refuseExternalEntity(const char*, const char*, xmlParserCtxtPtr) {
    return nullptr;
}

// Set when libxml2 reported, outside the parser context, that the bytes could not be converted
// from the document's encoding; the parser's own error that follows is less telling.
thread_local bool conversionFailed = false;

void noteGenericError(void*, const char* format, ...) {
    if (format != nullptr && std::strstr(format, "conversion failed") != nullptr)
        conversionFailed = true;
}

// libxml2 reports some failures (encoding conversion, I/O) outside the parser context, to the
// thread's generic error handler, which prints to stderr. During our parse they are silenced;
// the parser itself reports the resulting fatal error to us.
class SilenceGenericErrors {
public:
    SilenceGenericErrors() : handler_(xmlGenericError), context_(xmlGenericErrorContext) {
        conversionFailed = false;
        xmlSetGenericErrorFunc(nullptr, noteGenericError);
    }
    ~SilenceGenericErrors() { xmlSetGenericErrorFunc(context_, handler_); }
    SilenceGenericErrors(const SilenceGenericErrors&) = delete;
    SilenceGenericErrors& operator=(const SilenceGenericErrors&) = delete;

private:
    xmlGenericErrorFunc handler_;
    void* context_;
};

void installEntityLoaderOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        xmlSetExternalEntityLoader(refuseExternalEntity);
    });
}

XmlError refused(BookError code, BookField field, const std::string& attribute,
                 std::uint64_t size = 0, std::uint64_t limit = 0) {
    return XmlError(BookFailure{
        .code = code, .detail = attribute, .size = size, .limit = limit, .field = field});
}

// Checks a value we are asked to store: it must be UTF-8 and hold only characters XML 1.0 can
// carry, or the file we write would not load again and the whole book would be lost. `attribute`
// names the attribute when `field` is BookField::Attribute.
void checkValue(const std::string& value, BookField field, const std::string& attribute = {}) {
    if (value.size() > kMaxXmlValueBytes)
        throw refused(BookError::ValueTooLong, field, attribute, value.size(), kMaxXmlValueBytes);
    const auto notUtf8 = [&] { return refused(BookError::ValueNotUtf8, field, attribute); };
    const auto* p = reinterpret_cast<const unsigned char*>(value.data());
    const std::size_t n = value.size();
    std::size_t i = 0;
    while (i < n) {
        unsigned char c = p[i];
        std::uint32_t cp = 0;
        std::size_t len = 0;
        if (c < 0x80) {
            cp = c;
            len = 1;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            len = 2;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            len = 3;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07;
            len = 4;
        } else {
            throw notUtf8();
        }
        if (i + len > n)
            throw notUtf8();
        for (std::size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                throw notUtf8();
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        const bool overlong =
            (len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000);
        if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            throw notUtf8();
        const bool allowed = cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
                             (cp >= 0xE000 && cp <= 0xFFFD) || cp >= 0x10000;
        if (!allowed)
            throw refused(BookError::ValueBadCharacter, field, attribute, cp);
        i += len;
    }
}

void checkName(const std::string& name, const std::string& what) {
    if (name.empty() || name.size() > 1000 || xmlValidateName(X(name.c_str()), 0) != 0)
        throw XmlError(what + " \"" + name.substr(0, 100) + "\" is not a valid XML name");
}

bool isElement(const xmlNode* n) {
    return n != nullptr && n->type == XML_ELEMENT_NODE;
}

bool isXmlBlank(const xmlChar* s) {
    if (s == nullptr)
        return true;
    for (; *s; ++s)
        if (*s != ' ' && *s != '\t' && *s != '\n' && *s != '\r')
            return false;
    return true;
}

void appendText(const xmlNode* n, std::string& out) {
    for (const xmlNode* c = n->children; c != nullptr; c = c->next) {
        if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) {
            if (c->content != nullptr)
                out += C(c->content);
        } else if (c->type == XML_ELEMENT_NODE) {
            appendText(c, out);
        }
    }
}

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' '))
        s.pop_back();
    return s;
}

// What the parse reports back to us: the first real error, and whether a DOCTYPE was met.
struct ParseState {
    bool sawDoctype = false;
    bool tooManyAttributes = false;
    int errorLine = 0;
    std::string error;
};

void onStructuredError(void* userData, xmlErrorPtr err) {
    auto* ctxt = static_cast<xmlParserCtxtPtr>(userData);
    auto* state = static_cast<ParseState*>(ctxt->_private);
    if (state == nullptr || err == nullptr || err->level < XML_ERR_ERROR || !state->error.empty() ||
        state->tooManyAttributes)
        return;
    state->errorLine = err->line;
    state->error = trimmed(err->message ? err->message : "unknown parse error");
}

// The format has no DOCTYPE; stopping at it means no entity is ever declared, let alone
// expanded, and nothing is fetched for it.
void onInternalSubset(void* userData, const xmlChar*, const xmlChar*, const xmlChar*) {
    auto* ctxt = static_cast<xmlParserCtxtPtr>(userData);
    auto* state = static_cast<ParseState*>(ctxt->_private);
    if (state != nullptr) {
        state->sawDoctype = true;
        state->errorLine = xmlSAX2GetLineNumber(ctxt);
    }
    xmlStopParser(ctxt);
}

// Whitespace-only text is dropped as soon as its node is complete: when the next node of its
// parent starts, or the parent ends. An indented file and a compact one so give the same tree,
// and a dropped node's memory is taken again at once by the next node instead of leaving a hole
// among the book's nodes for every indentation.
void dropBlankLastChild(void* userData) {
    const xmlNode* parent = static_cast<xmlParserCtxtPtr>(userData)->node;
    xmlNode* last = parent != nullptr ? parent->last : nullptr;
    if (last != nullptr && last->type == XML_TEXT_NODE && isXmlBlank(last->content)) {
        xmlUnlinkNode(last);
        xmlFreeNode(last);
    }
}

void onStartElement(void* userData, const xmlChar* localName, const xmlChar* prefix,
                    const xmlChar* uri, int namespaceCount, const xmlChar** namespaces,
                    int attributeCount, int defaultedCount, const xmlChar** attributes) {
    if (attributeCount + namespaceCount > kMaxAttributesPerElement) {
        auto* ctxt = static_cast<xmlParserCtxtPtr>(userData);
        auto* state = static_cast<ParseState*>(ctxt->_private);
        if (state != nullptr && state->error.empty() && !state->tooManyAttributes) {
            state->errorLine = xmlSAX2GetLineNumber(ctxt);
            state->tooManyAttributes = true;
        }
        xmlStopParser(ctxt);
        return;
    }
    dropBlankLastChild(userData);
    xmlSAX2StartElementNs(userData, localName, prefix, uri, namespaceCount, namespaces,
                          attributeCount, defaultedCount, attributes);
}

void onEndElement(void* userData, const xmlChar* localName, const xmlChar* prefix,
                  const xmlChar* uri) {
    dropBlankLastChild(userData);
    xmlSAX2EndElementNs(userData, localName, prefix, uri);
}

void onComment(void* userData, const xmlChar* value) {
    dropBlankLastChild(userData);
    xmlSAX2Comment(userData, value);
}

void onProcessingInstruction(void* userData, const xmlChar* target, const xmlChar* data) {
    dropBlankLastChild(userData);
    xmlSAX2ProcessingInstruction(userData, target, data);
}

void onReference(void* userData, const xmlChar* name) {
    dropBlankLastChild(userData);
    xmlSAX2Reference(userData, name);
}

// libxml2's read callback over an open file, refusing to go past `budget` bytes (the file may
// grow while it is read).
struct BoundedFileReader {
    int fd;
    std::size_t budget;
    std::size_t limit; // the whole budget, for the message
    xmlParserCtxtPtr parser;
    std::optional<BookFailure> failure; // what stopped the reading; path and action unset
    std::uint64_t hash = fnv1a::Start;

    // libxml2 checks an element's attributes for duplicates only once it has all of them, at a
    // cost that grows with the square of their number; the element handler comes later still.
    // Its attribute table (five slots per attribute, grown to twice what it needs) and its
    // namespace stack (two per declaration) show while the tag is read: past the limit, no
    // further byte is handed over, so the parser runs out of input with the attributes it has.
    bool parserHoldsTooManyAttributes() const {
        return parser->maxatts > 2 * 5 * kMaxAttributesPerElement ||
               parser->nsNr > 2 * kMaxAttributesPerElement;
    }

    void stop(BookError code, int error, std::uint64_t bound) {
        failure.emplace();
        failure->code = code;
        failure->error = error;
        failure->limit = bound;
    }

    static int read(void* context, char* buffer, int length) {
        auto& self = *static_cast<BoundedFileReader*>(context);
        if (self.parserHoldsTooManyAttributes()) {
            self.stop(BookError::TooManyAttributes, 0, kMaxAttributesPerElement);
            return -1;
        }
        for (;;) {
            // One byte past the budget is asked for, so a file just over it is noticed.
            const std::size_t wanted =
                std::min(static_cast<std::size_t>(std::max(length, 0)), self.budget + 1);
            const ssize_t got = ::read(self.fd, buffer, wanted);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                self.stop(BookError::CannotRead, errno, 0);
                return -1;
            }
            if (static_cast<std::size_t>(got) > self.budget) {
                self.stop(BookError::FileTooLarge, 0, self.limit);
                return -1;
            }
            self.budget -= static_cast<std::size_t>(got);
            self.hash =
                fnv1a::add(self.hash, std::string_view(buffer, static_cast<std::size_t>(got)));
            return static_cast<int>(got);
        }
    }
};

struct FdCloser {
    int fd = -1;
    ~FdCloser() {
        if (fd >= 0)
            ::close(fd);
    }
};

std::string dirOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string baseOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

BookFailure saveFailure(const std::string& path, BookError code, int error = 0,
                        const std::string& detail = {}) {
    return {
        .action = BookAction::Save, .code = code, .error = error, .path = path, .detail = detail};
}

std::string fieldName(const BookFailure& f) {
    switch (f.field) {
    case BookField::GroupName:
        return "工作组名";
    case BookField::ComputerName:
        return "机器名";
    case BookField::UserName:
        return "用户名";
    case BookField::IpAddress:
        return "IP地址";
    case BookField::Memo:
        return "说明";
    case BookField::Attribute:
        return "属性“" + f.detail + "”的值";
    case BookField::None:
    case BookField::Text:
        break;
    }
    return "文本";
}

// The reason after the book's name; the desktop's sentences (desktop/ErrorReport.cpp) are these
// same texts through its translation.
std::string reasonOf(const BookFailure& f) {
    const std::string why = "（" + errnoText(f.error) + "）";
    const std::string size = std::to_string(f.size), limit = std::to_string(f.limit);
    switch (f.code) {
    case BookError::Internal:
        break;
    case BookError::CannotOpen:
        return "无法打开文件" + why;
    case BookError::CannotRead:
        return "无法读取文件" + why;
    case BookError::NotRegularFile:
        return "不是普通文件";
    case BookError::FileTooLarge:
        if (f.size == 0)
            return "文件太大（通讯录最多 " + limit + " 字节）";
        return "文件太大（" + size + " 字节，通讯录最多 " + limit + " 字节）";
    case BookError::EmptyFile:
        return "文件是空的";
    case BookError::OutOfMemory:
        return "内存不足";
    case BookError::TooManyAttributes:
        return "有元素带有超过 " + limit + " 个属性，通讯录不会有这样的元素";
    case BookError::Doctype:
        return "通讯录中不允许文档类型声明（DOCTYPE）";
    case BookError::WrongEncoding:
        if (f.detail.empty())
            return "文本不符合文件声明的编码";
        return "文本不符合文件声明的编码（" + f.detail + "）";
    case BookError::NotParsed:
        return f.detail;
    case BookError::NotWellFormed:
        return "文件不是格式正确的 XML";
    case BookError::NoRootElement:
        return "文件中没有根元素";
    case BookError::TooManyLinks:
        return "符号链接层数太多";
    case BookError::CannotReadLink:
        return "无法读取符号链接" + why;
    case BookError::NotAFileName:
        return "不是文件名";
    case BookError::ReadOnlyFile:
        return "文件是只读的";
    case BookError::NotWritable:
        return "文件不可写" + why;
    case BookError::CannotCheckFile:
        return errnoText(f.error);
    case BookError::FolderUnusable:
        return "文件夹 " + f.detail + " 无法使用" + why;
    case BookError::NotAFolder:
        return f.detail + " 不是文件夹";
    case BookError::ReadOnlyFolder:
        return "文件夹 " + f.detail + " 是只读的";
    case BookError::EncodingUnavailable:
        return "无法以编码 " + f.detail + " 写入";
    case BookError::EncodingCannotHold:
        return "文档无法以编码 " + f.detail + " 写出";
    case BookError::BookTooLarge:
        return "通讯录太大（" + size + " 字节，通讯录最多 " + limit +
               " 字节）。什么也没有改动；请删除一些计算机或缩短备注";
    case BookError::CannotSetAside:
        return "无法将那里无法读取的文件另存" + why;
    case BookError::TooManySetAside:
        return "另存的无法读取的副本太多";
    case BookError::CannotCreateTemporary:
        return "无法在 " + f.detail + " 中创建临时文件" + why;
    case BookError::CannotSetMode:
        return "无法设置文件权限" + why;
    case BookError::CannotReplace:
        return "无法替换文件" + why;
    case BookError::WriteFailed:
        return "写入失败" + why;
    case BookError::CannotOpenLock:
        return "无法打开锁文件 " + f.detail + why;
    case BookError::CannotLock:
        return "无法锁定锁文件 " + f.detail + why;
    case BookError::ValueTooLong:
        return fieldName(f) + "太长（" + size + " 字节，最多 " + limit + " 字节）";
    case BookError::ValueNotUtf8:
        return fieldName(f) + "不是有效的 UTF-8 文本";
    case BookError::ValueBadCharacter: {
        char character[16];
        std::snprintf(character, sizeof character, "%04X", static_cast<unsigned>(f.size));
        return fieldName(f) + "含有 XML 无法保存的字符（U+" + character + "）";
    }
    }
    return "内部错误";
}

} // namespace

std::string describe(const BookFailure& failure) {
    const std::string reason = reasonOf(failure);
    switch (failure.action) {
    case BookAction::Read:
        if (failure.line > 0)
            return "无法读取通讯录 " + failure.path + "，第 " + std::to_string(failure.line) +
                   " 行：" + reason;
        return "无法读取通讯录 " + failure.path + "：" + reason;
    case BookAction::Save:
        return "无法保存通讯录 " + failure.path + "：" + reason;
    case BookAction::Edit:
        return "无法修改通讯录 " + failure.path + "：" + reason;
    case BookAction::Store:
        break;
    }
    return reason;
}

void checkXmlValue(const std::string& value, BookField field) {
    checkValue(value, field);
}

// ---- XmlNodeList / XmlNode ----------------------------------------------------------------

XmlNode XmlNodeList::item(int index) const {
    if (index < 0 || index >= length())
        return {};
    return XmlNode(nodes_[static_cast<std::size_t>(index)]);
}

namespace {

// Generations are unique across the documents of the process, so that a generation remembered
// of one document is never taken for that of another made later in its place.
std::uint64_t nextGeneration() {
    static std::atomic<std::uint64_t> last{0};
    return ++last;
}

} // namespace

// Every change of the tree goes through a node; its document notes it, so that the book's model
// is read again before its next use.
void XmlNode::noteChange(const _xmlNode* n) {
    if (n != nullptr && n->doc != nullptr && n->doc->_private != nullptr)
        static_cast<XmlDocument*>(n->doc->_private)->generation_ = nextGeneration();
}

xmlNode* XmlNode::checked() const {
    if (node_ == nullptr)
        throw XmlError("Use of a null XML node");
    return node_;
}

std::string XmlNode::nodeName() const {
    xmlNode* n = checked();
    std::string name = n->name ? C(n->name) : "";
    if (n->ns != nullptr && n->ns->prefix != nullptr)
        name = std::string(C(n->ns->prefix)) + ":" + name;
    return name;
}

XmlNodeList XmlNode::childNodes() const {
    XmlNodeList list;
    list.nodes_.reserve(xmlChildElementCount(checked()));
    for (xmlNode* c = checked()->children; c != nullptr; c = c->next)
        if (isElement(c))
            list.nodes_.push_back(c);
    return list;
}

XmlNode XmlNode::lastChild() const {
    for (xmlNode* c = checked()->last; c != nullptr; c = c->prev)
        if (isElement(c))
            return XmlNode(c);
    return {};
}

bool XmlNode::hasAttribute(const std::string& name) const {
    return xmlHasNsProp(checked(), X(name.c_str()), nullptr) != nullptr;
}

std::string XmlNode::getAttribute(const std::string& name) const {
    return takeXmlString(xmlGetNoNsProp(checked(), X(name.c_str())));
}

void XmlNode::setAttribute(const std::string& name, const std::string& value) {
    xmlNode* n = checked();
    checkName(name, "Attribute name");
    checkValue(value, BookField::Attribute, name);
    // No namespace handling: the book's attributes are plain names.
    noteChange(n);
    if (xmlSetNsProp(n, nullptr, X(name.c_str()), X(value.c_str())) == nullptr)
        throw XmlError("Cannot set attribute \"" + name + "\" (out of memory)");
}

XmlNode XmlNode::appendChild(XmlNode child) {
    xmlNode* parent = checked();
    xmlNode* c = child.checked();
    if (!isElement(c) || c->doc != parent->doc)
        throw XmlError("appendChild: the child is not an element of this document");
    for (xmlNode* a = parent; a != nullptr; a = a->parent)
        if (a == c)
            throw XmlError("appendChild: a node cannot be appended inside itself");
    noteChange(parent);
    const bool wasOrphan = c->parent == nullptr;
    xmlUnlinkNode(c);
    xmlAddChild(parent, c);
    if (wasOrphan && parent->doc != nullptr && parent->doc->_private != nullptr) {
        auto& orphans = static_cast<XmlDocument*>(parent->doc->_private)->orphans_;
        orphans.erase(std::remove(orphans.begin(), orphans.end(), c), orphans.end());
    }
    return child;
}

void XmlNode::removeChild(XmlNode child) {
    xmlNode* parent = checked();
    xmlNode* c = child.checked();
    if (c->parent != parent)
        throw XmlError("removeChild: the node is not a child of this node");
    noteChange(parent);
    xmlUnlinkNode(c);
    xmlFreeNode(c);
}

std::string XmlNode::text() const {
    std::string out;
    appendText(checked(), out);
    return out;
}

void XmlNode::setText(const std::string& text) {
    xmlNode* n = checked();
    checkValue(text, BookField::Text);
    xmlNode* t = xmlNewDocTextLen(n->doc, X(text.c_str()), static_cast<int>(text.size()));
    if (t == nullptr)
        throw XmlError("Cannot set the text (out of memory)");
    noteChange(n);
    while (xmlNode* c = n->children) {
        xmlUnlinkNode(c);
        xmlFreeNode(c);
    }
    xmlAddChild(n, t);
}

// ---- XmlDocument --------------------------------------------------------------------------

XmlDocument::XmlDocument() : XmlDocument(kMaxBookFileBytes) {}

XmlDocument::XmlDocument(std::size_t maxFileBytes)
    : maxFileBytes_(std::min(maxFileBytes, kMaxBookFileBytes)) {
    installEntityLoaderOnce();
    reset(nullptr);
}

XmlDocument::~XmlDocument() {
    freeOrphans();
    if (doc_ != nullptr)
        xmlFreeDoc(doc_);
}

void XmlDocument::freeOrphans() {
    for (xmlNode* n : orphans_)
        xmlFreeNode(n);
    orphans_.clear();
}

// Takes `doc` as the new document, or builds an empty book when it is null.
void XmlDocument::reset(xmlDoc* doc) {
    freeOrphans();
    if (doc_ != nullptr)
        xmlFreeDoc(doc_);
    doc_ = nullptr;
    if (doc == nullptr) {
        doc = xmlNewDoc(X("1.0"));
        if (doc == nullptr)
            throw XmlError("Out of memory");
        xmlNode* root = xmlNewDocNode(doc, nullptr, X("Lanquill"), nullptr);
        if (root == nullptr) {
            xmlFreeDoc(doc);
            throw XmlError("Out of memory");
        }
        xmlDocSetRootElement(doc, root);
        doc->standalone = -1; // no XML declaration until a loaded file brings one
    }
    doc->_private = this;
    doc_ = doc;
    generation_ = nextGeneration();
}

const ContactBook& XmlDocument::model() const {
    if (!model_ || modelGeneration_ != generation_) {
        model_.reset(); // the old one's handles may name freed elements
        model_ = std::make_unique<ContactBook>(*this);
        modelGeneration_ = generation_;
    }
    return *model_;
}

XmlNode XmlDocument::documentElement() const {
    return XmlNode(xmlDocGetRootElement(doc_));
}

XmlNode XmlDocument::createElement(const std::string& name) {
    checkName(name, "Element name");
    xmlNode* n = xmlNewDocNode(doc_, nullptr, X(name.c_str()), nullptr);
    if (n == nullptr)
        throw XmlError("Cannot create element (out of memory)");
    orphans_.push_back(n);
    return XmlNode(n);
}

std::string XmlDocument::encoding() const {
    return doc_->encoding != nullptr ? C(doc_->encoding) : "UTF-8";
}

LoadOutcome XmlDocument::load(const std::string& path) {
    installEntityLoaderOnce();
    unreadablePath_.clear();
    disk_.reset();
    reset(nullptr);

    auto unreadableAt = [&](int line, BookFailure failure) {
        unreadablePath_ = path;
        failure.action = BookAction::Read;
        failure.path = path;
        failure.line = line;
        std::string message = describe(failure);
        return LoadOutcome{LoadOutcome::Kind::Unreadable, std::move(failure), std::move(message)};
    };
    auto unreadable = [&](BookError code, int error = 0) {
        return unreadableAt(0, {.code = code, .error = error});
    };

    // O_NONBLOCK: a FIFO put in the book's place must not hang us in open().
    FdCloser f{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
    if (f.fd < 0) {
        const int err = errno;
        if (err == ENOENT) {
            disk_ = DiskState{path, false};
            return {LoadOutcome::Kind::Missing, {}, {}};
        }
        return unreadable(BookError::CannotOpen, err);
    }
    struct stat st {};
    if (::fstat(f.fd, &st) != 0)
        return unreadable(BookError::CannotRead, errno);
    noteDiskState(path, st, false, 0);
    if (!S_ISREG(st.st_mode))
        return unreadable(BookError::NotRegularFile);
    if (static_cast<unsigned long long>(st.st_size) > maxFileBytes_) {
        return unreadableAt(0, {.code = BookError::FileTooLarge,
                                .size = static_cast<std::uint64_t>(st.st_size),
                                .limit = maxFileBytes_});
    }

    if (st.st_size == 0)
        return unreadable(BookError::EmptyFile);

    std::unique_ptr<xmlParserCtxt, void (*)(xmlParserCtxtPtr)> ctxt(xmlNewParserCtxt(),
                                                                    xmlFreeParserCtxt);
    if (!ctxt || ctxt->sax == nullptr)
        return unreadable(BookError::OutOfMemory);
    ParseState state;
    ctxt->_private = &state;
    ctxt->sax->internalSubset = onInternalSubset;
    ctxt->sax->serror = onStructuredError;
    ctxt->sax->startElementNs = onStartElement;
    ctxt->sax->endElementNs = onEndElement;
    ctxt->sax->comment = onComment;
    ctxt->sax->processingInstruction = onProcessingInstruction;
    ctxt->sax->reference = onReference;
    // No NOENT (entities stay unexpanded), no DTDLOAD, no HUGE (libxml2's depth and size limits
    // stay in force), no network. Blank text is dropped by the handlers above, not by libxml2's
    // heuristic.
    SilenceGenericErrors silence;
    const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING |
                        XML_PARSE_NOCDATA | XML_PARSE_NOXINCNODE;
    // Streamed in the parser's own small chunks: holding the whole file (and libxml2 a second
    // copy of it) would cost two large blocks per load, and large blocks make glibc's allocator
    // sweep every small block freed since, which the previous book has just left by the
    // hundred thousand.
    BoundedFileReader reader{f.fd, maxFileBytes_, maxFileBytes_, ctxt.get(), {}};
    xmlDoc* doc = xmlCtxtReadIO(ctxt.get(), BoundedFileReader::read, nullptr, &reader, path.c_str(),
                                nullptr, options);
    std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)> owned(doc, xmlFreeDoc);
    if (reader.failure)
        return unreadableAt(0, std::move(*reader.failure));

    auto withLine = [&](int line, BookError code, std::string detail = {}) {
        const std::uint64_t limit =
            code == BookError::TooManyAttributes ? kMaxAttributesPerElement : 0;
        return unreadableAt(std::max(line, 1),
                            {.code = code, .detail = std::move(detail), .limit = limit});
    };
    if (state.sawDoctype)
        return withLine(state.errorLine, BookError::Doctype);
    if (conversionFailed && (!state.error.empty() || state.tooManyAttributes || !ctxt->wellFormed))
        return withLine(state.errorLine, BookError::WrongEncoding,
                        ctxt->encoding ? C(ctxt->encoding) : "");
    if (state.tooManyAttributes)
        return withLine(state.errorLine, BookError::TooManyAttributes);
    if (!state.error.empty())
        return withLine(state.errorLine, BookError::NotParsed, state.error);
    if (!owned || !ctxt->wellFormed)
        return withLine(ctxt->input ? ctxt->input->line : 1, BookError::NotWellFormed);
    xmlNode* root = xmlDocGetRootElement(owned.get());
    if (root == nullptr)
        return withLine(1, BookError::NoRootElement);

    // The DTD node (none: refused above) and anything else libxml2 keeps besides the tree are
    // written back as they were; comments around the root survive a save.
    reset(owned.release());
    disk_->hashed = true; // the parser has read the file to its end
    disk_->hash = reader.hash;
    return {LoadOutcome::Kind::Loaded, {}, {}};
}

void XmlDocument::noteDiskState(const std::string& path, const struct stat& st, bool hashed,
                                std::uint64_t hash) {
    disk_ = DiskState{path,
                      true,
                      static_cast<std::uint64_t>(st.st_dev),
                      static_cast<std::uint64_t>(st.st_ino),
                      static_cast<std::uint64_t>(st.st_size),
                      std::int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec,
                      hashed,
                      hash};
}

bool XmlDocument::changedOnDisk(const std::string& path) const {
    if (!disk_ || disk_->path != path)
        return true;
    FdCloser f{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
    struct stat st {};
    if (f.fd < 0 || ::fstat(f.fd, &st) != 0)
        return disk_->present || errno != ENOENT;
    if (!disk_->present || static_cast<std::uint64_t>(st.st_dev) != disk_->device ||
        static_cast<std::uint64_t>(st.st_ino) != disk_->inode ||
        static_cast<std::uint64_t>(st.st_size) != disk_->size ||
        std::int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec != disk_->modifiedNs)
        return true;
    if (!disk_->hashed)
        return false;
    // Same size and time can still hide a rewrite (a file system with coarse times).
    std::uint64_t hash = fnv1a::Start;
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(f.fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return true;
        if (got == 0)
            return hash != disk_->hash;
        hash = fnv1a::add(hash, std::string_view(buffer, static_cast<std::size_t>(got)));
    }
}

void XmlDocument::moveAsideUnreadable(const std::string& file) {
    struct stat st {};
    if (::lstat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return; // gone or replaced by something we would not overwrite anyway
    for (int n = 1; n < 10000; ++n) {
        std::string aside = file + ".unreadable";
        if (n > 1) {
            // Not "-" + std::to_string(n): GCC 12 at -O3 takes the insert in it for an overlapping
            // memcpy (-Wrestrict, a false positive), which fails the Release build.
            aside += '-';
            aside += std::to_string(n);
        }
        // link() never replaces an existing name, so an earlier kept copy is never lost.
        if (::link(file.c_str(), aside.c_str()) == 0)
            return; // the atomic rename of the new book replaces the original name
        const int err = errno;
        if (err == EEXIST)
            continue;
        if (err == EPERM || err == ENOTSUP || err == EOPNOTSUPP) {
            // A file system without hard links: check, then rename.
            if (::access(aside.c_str(), F_OK) == 0)
                continue;
            if (::rename(file.c_str(), aside.c_str()) == 0)
                return;
        }
        throw XmlError(saveFailure(file, BookError::CannotSetAside, err));
    }
    throw XmlError(saveFailure(file, BookError::TooManySetAside));
}

void XmlDocument::save(const std::string& path) {
    auto fail = [&](BookError code, int error = 0, const std::string& detail = {}) {
        return XmlError(saveFailure(path, code, error, detail));
    };
    // A book that is a link (to a shared folder, say) stays one: the save replaces the file the
    // link leads to, from a temporary file beside that file.
    std::string file = path;
    for (int hops = 0;; ++hops) {
        struct stat st {};
        if (::lstat(file.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            break;
        if (hops == 40)
            throw fail(BookError::TooManyLinks);
        std::string target(PATH_MAX, '\0');
        const ssize_t n = ::readlink(file.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= target.size())
            throw fail(BookError::CannotReadLink, n < 0 ? errno : ENAMETOOLONG);
        target.resize(static_cast<std::size_t>(n));
        file = target.front() == '/' ? target : dirOf(file) + "/" + target;
    }
    const std::string dir = dirOf(file);
    const std::string base = baseOf(file);

    if (base.empty() || base == "." || base == "..")
        throw fail(BookError::NotAFileName);

    // We run as root in places, where access() says yes to everything: the mode bits decide.
    struct stat target {};
    const bool exists = ::stat(file.c_str(), &target) == 0;
    if (exists) {
        if (!S_ISREG(target.st_mode))
            throw fail(BookError::NotRegularFile);
        if ((target.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
            throw fail(BookError::ReadOnlyFile);
        if (::access(file.c_str(), W_OK) != 0)
            throw fail(BookError::NotWritable, errno);
    } else if (errno != ENOENT) {
        throw fail(BookError::CannotCheckFile, errno);
    }
    struct stat folder {};
    if (::stat(dir.c_str(), &folder) != 0)
        throw fail(BookError::FolderUnusable, errno, dir);
    if (!S_ISDIR(folder.st_mode))
        throw fail(BookError::NotAFolder, 0, dir);
    if ((folder.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(dir.c_str(), W_OK) != 0)
        throw fail(BookError::ReadOnlyFolder, 0, dir);

    // Serialise first: nothing touches the disk when the document cannot be written.
    const std::string enc = encoding();
    const bool declaration = doc_->standalone != -1;
    std::unique_ptr<xmlBuffer, void (*)(xmlBufferPtr)> buffer(xmlBufferCreate(), xmlBufferFree);
    if (!buffer)
        throw fail(BookError::OutOfMemory);
    int options = XML_SAVE_FORMAT;
    if (!declaration)
        options |= XML_SAVE_NO_DECL;
    xmlSaveCtxtPtr sctx = xmlSaveToBuffer(buffer.get(), enc.c_str(), options);
    if (sctx == nullptr)
        throw fail(BookError::EncodingUnavailable, 0, enc);
    const long saved = xmlSaveDoc(sctx, doc_);
    const int closed = xmlSaveClose(sctx);
    if (saved < 0 || closed < 0)
        throw fail(BookError::EncodingCannotHold, 0, enc);
    const char* data = C(xmlBufferContent(buffer.get()));
    const std::size_t size = static_cast<std::size_t>(xmlBufferLength(buffer.get()));
    // A file that load() would refuse would cost the whole book at the next start.
    if (size > maxFileBytes_) {
        BookFailure failure = saveFailure(path, BookError::BookTooLarge);
        failure.size = size;
        failure.limit = maxFileBytes_;
        throw XmlError(std::move(failure));
    }

    if (!unreadablePath_.empty() && unreadablePath_ == path)
        moveAsideUnreadable(file);

    files::removeStaleTemporaries(dir, base);
    files::ReplaceOptions replace;
    if (exists) {
        replace.mode = target.st_mode & 07777;
        // Keep the owner too when we may (root editing a user's book).
        replace.owner = std::pair{target.st_uid, target.st_gid};
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        replace.mode = 0666 & ~mask;
    }
    const auto result = files::replaceFile(file, std::string_view(data, size), replace);
    if (result.failure) {
        const int why = result.failure->error;
        switch (result.failure->step) {
        case files::ReplaceStep::CreateTemporary:
            throw fail(BookError::CannotCreateTemporary, why, dir);
        case files::ReplaceStep::SetMode:
            throw fail(BookError::CannotSetMode, why);
        case files::ReplaceStep::Rename:
            throw fail(BookError::CannotReplace, why);
        case files::ReplaceStep::Write:
        case files::ReplaceStep::Sync:
        case files::ReplaceStep::Close:
            throw fail(BookError::WriteFailed, why);
        }
    }
    if (unreadablePath_ == path)
        unreadablePath_.clear();
    noteDiskState(path, result.replaced->written, true,
                  fnv1a::add(fnv1a::Start, std::string_view(data, size)));
}

} // namespace lanquill::contacts
