// A small DOM over libxml2 holding the contact book: exactly the facilities the book's readers and
// writers use, with the loading and saving rules of config.xml built in (whitespace between
// elements dropped, no DTD or entity ever read, atomic saves in the document's own encoding, an
// unreadable file kept aside instead of overwritten).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// libxml2's own types, declared here so that users of the book need not include libxml2.
struct _xmlNode;
struct _xmlDoc;
struct stat;

namespace lanquill::contacts {

// What went wrong with the book, as a value: the desktop words it in the user's language
// (desktop/ErrorReport.h), and describe() gives the program's own Chinese wording for callers
// that show no window.
enum class BookError {
    Internal, // a misuse of a node or an invalid XML name: a fault of the program, worded in what()
    // Reading (BookAction::Read): `error` is the errno where there is one.
    CannotOpen,
    CannotRead,
    NotRegularFile, // reading or saving
    FileTooLarge,   // `size` (0 when it grew while read) over `limit`
    EmptyFile,
    OutOfMemory,       // reading or saving
    TooManyAttributes, // `limit` attributes per element
    Doctype,
    WrongEncoding, // `detail`: the encoding the file declares, or empty
    NotParsed,     // `detail`: libxml2's own account
    NotWellFormed,
    NoRootElement,
    // Saving (BookAction::Save). `detail` is the folder or the encoding where one is named.
    TooManyLinks,
    CannotReadLink,
    NotAFileName,
    ReadOnlyFile,
    NotWritable,
    CannotCheckFile,
    FolderUnusable,
    NotAFolder,
    ReadOnlyFolder,
    EncodingUnavailable,
    EncodingCannotHold,
    BookTooLarge,   // `size` over `limit`; nothing was changed
    CannotSetAside, // the unreadable file found at load could not be kept aside
    TooManySetAside,
    CannotCreateTemporary,
    CannotSetMode,
    CannotReplace,
    WriteFailed,
    // Editing (BookAction::Edit): `detail` is the lock file.
    CannotOpenLock,
    CannotLock,
    // A value refused before anything changed (BookAction::Store), naming its `field`.
    ValueTooLong, // `size` over `limit`
    ValueNotUtf8,
    ValueBadCharacter, // `size` is the character
};

// What the book was being used for; the sentence begins with it.
enum class BookAction { Read, Save, Edit, Store };

// The value a refused text was meant for. Attribute and Text are the document's own checks, for
// a value no field check saw first; `detail` names the attribute.
enum class BookField { None, GroupName, ComputerName, UserName, IpAddress, Memo, Attribute, Text };

struct BookFailure {
    BookAction action = BookAction::Store;
    BookError code = BookError::Internal;
    int error = 0;      // the errno, 0 when there is none
    std::string path{}; // the book
    std::string detail{};
    std::uint64_t size = 0, limit = 0;
    int line = 0; // the line of a file that does not parse; 0 when the failure has none
    BookField field = BookField::None;
};

// The program's own (Chinese) sentence for a failure; what() and LoadOutcome::message give it.
std::string describe(const BookFailure& failure);

// Any failure of the document: a refused value, a misuse of a node, a failed save.
class XmlError : public std::runtime_error {
public:
    explicit XmlError(const std::string& fault) : runtime_error(fault) {}
    explicit XmlError(BookFailure failure)
        : runtime_error(describe(failure)), failure_(std::move(failure)) {}
    // Code Internal for a fault of the program.
    const BookFailure& failure() const { return failure_; }

private:
    BookFailure failure_;
};

// Longest attribute value or text the document accepts. Far above anything the book holds, and
// below libxml2's own limit for one text node, so that whatever we save loads again.
inline constexpr std::size_t kMaxXmlValueBytes = 1024 * 1024;
// Largest file load() reads. A book of ten thousand computers is about 2 MB.
inline constexpr std::size_t kMaxBookFileBytes = 32 * 1024 * 1024;

// Most attributes (namespace declarations included) one element may carry. The book's elements
// carry one; the limit stops a file that would make libxml2's duplicate-attribute check, which
// compares every attribute of an element with every other, run for minutes.
inline constexpr int kMaxAttributesPerElement = 32;

class XmlNode;
class ContactBook;

// Throws XmlError unless `value` can be stored as text or attribute value: valid UTF-8, only
// characters XML 1.0 allows, at most kMaxXmlValueBytes. `field` names the value in the message.
void checkXmlValue(const std::string& value, BookField field);

// The element children of a node, taken when childNodes() was called (later changes to the
// node do not show in it). Zero-based, in document order.
class XmlNodeList {
public:
    int length() const { return static_cast<int>(nodes_.size()); }
    // A null node when index is out of range.
    XmlNode item(int index) const;

private:
    friend class XmlNode;

    std::vector<_xmlNode*> nodes_;
};

// A non-owning handle on an element of an XmlDocument; default-constructed = null. A handle is
// valid while its element is in (or created by) a living document and has not been removed.
// Every member but operator bool and == throws XmlError on a null handle.
class XmlNode {
public:
    XmlNode() = default;
    explicit operator bool() const { return node_ != nullptr; }
    std::string nodeName() const;
    // Element children only: whitespace between elements is dropped at load, and comments or
    // processing instructions that a hand-edited file may hold are kept in the file but are
    // never handed out as groups or computers.
    XmlNodeList childNodes() const;
    XmlNode lastChild() const; // the last element child, or null
    bool hasAttribute(const std::string& name) const;
    std::string getAttribute(const std::string& name) const; // "" when absent
    // Throws XmlError for a value that is not UTF-8, holds a character XML cannot carry, or is
    // longer than kMaxXmlValueBytes; the node is then unchanged.
    void setAttribute(const std::string& name, const std::string& value);
    // `child` must be an element of the same document and must not contain this node; it is
    // moved when it already has a parent. Returns child.
    XmlNode appendChild(XmlNode child);
    // Unlinks and frees `child`, which must be a child of this node; handles on it and on
    // anything inside it become invalid.
    void removeChild(XmlNode child);
    // Concatenated text of all text and CDATA below this node; entities are never expanded.
    std::string text() const;
    // Replaces everything inside the node by this text (checked as setAttribute checks values).
    void setText(const std::string& text);
    bool operator==(const XmlNode& other) const { return node_ == other.node_; }

private:
    friend class XmlDocument;
    friend class XmlNodeList;
    explicit XmlNode(_xmlNode* node) : node_(node) {}
    _xmlNode* checked() const;
    static void noteChange(const _xmlNode* node);
    _xmlNode* node_ = nullptr;
};

struct LoadOutcome {
    enum class Kind { Loaded, Missing, Unreadable } kind = Kind::Loaded;
    // For Unreadable: why, with the line of a file that does not parse.
    BookFailure failure;
    // describe(failure) for Unreadable: "<path>, line <n>: <reason>" or "<path>: <reason>".
    std::string message;
};

class XmlDocument {
public:
    XmlDocument(); // an empty book: root element "Lanquill", no children, UTF-8, no declaration
    // The same with a smaller bound than kMaxBookFileBytes on what load() reads and save() writes
    // (tests of the bound would otherwise write tens of megabytes).
    explicit XmlDocument(std::size_t maxFileBytes);
    ~XmlDocument();
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    // Replaces the document by the file's content; never throws for anything the file holds.
    // Missing or Unreadable leave an empty book. An unreadable file is remembered: the first
    // save() to the same path moves it aside to "<path>.unreadable" (or ".unreadable-2", ...)
    // before writing, so it is never silently overwritten. The file is never written by load.
    LoadOutcome load(const std::string& path);

    // Writes the whole document atomically: a temporary ".<name>.<pid>.XXXXXX" beside the file,
    // synced, given the mode of the file it replaces, then renamed over it. Throws XmlError with
    // a clear text when the file or its folder is read-only, the file would be larger than
    // kMaxBookFileBytes (as written, indentation included), or anything fails; the old file is
    // then untouched and the temporary file removed. A `path` that is a symbolic link stays one:
    // the file it leads to is replaced, from a temporary file beside it. Temporary files that
    // killed processes left behind are removed by the next save into the same folder.
    void save(const std::string& path);

    XmlNode documentElement() const;
    // A plain element without namespace, not yet in the tree (append it with appendChild).
    XmlNode createElement(const std::string& name);

    // The encoding save() writes: the one the loaded file declared, else "UTF-8".
    std::string encoding() const;

    // True unless the file at `path` is the one this document last read or wrote: false only
    // when it is still missing, or still has the same identity, size, modification time and
    // (where the whole file was read) content hash.
    bool changedOnDisk(const std::string& path) const;

    // Changes with every change of the document: load() and every change made through one of
    // its nodes (an attribute or text set, a child appended or removed). No two documents of the
    // process ever have the same generation.
    std::uint64_t generation() const { return generation_; }

    // The book as values with its indexes (contacts/ContactBook.h), read out of the document on
    // the first call after a change and kept until the next change. Like the document itself,
    // for one thread at a time.
    const ContactBook& model() const;

private:
    friend class XmlNode;

    void reset(_xmlDoc* doc);
    void freeOrphans();
    void moveAsideUnreadable(const std::string& file);

    // What load() or save() last saw of the file.
    struct DiskState {
        std::string path;
        bool present = false;
        std::uint64_t device = 0, inode = 0, size = 0;
        std::int64_t modifiedNs = 0;
        bool hashed = false;
        std::uint64_t hash = 0;
    };
    void noteDiskState(const std::string& path, const struct stat& st, bool hashed,
                       std::uint64_t hash);

    _xmlDoc* doc_ = nullptr;
    std::optional<DiskState> disk_;
    std::vector<_xmlNode*> orphans_; // created but never linked into the tree
    std::string unreadablePath_;     // a file that did not load and is not yet kept aside
    std::size_t maxFileBytes_ = kMaxBookFileBytes;
    std::uint64_t generation_ = 0;
    mutable std::unique_ptr<ContactBook> model_;
    mutable std::uint64_t modelGeneration_ = 0;
};

} // namespace lanquill::contacts
