#include "contacts/XMLFile.h"

#include "contacts/ContactBook.h"

#include "protocol/OemCodePage.h"

namespace lanquill::contacts {

void checkLength(const std::string& value, std::size_t limit, BookField field) {
    if (value.size() > limit) {
        throw XmlError(BookFailure{
            .code = BookError::ValueTooLong, .size = value.size(), .limit = limit, .field = field});
    }
}

namespace {

struct Match {
    XmlNode group;
    XmlNode computer;
};

// Ids exactly as stored are looked for before ids that match after folding: a book may hold
// both renshi-pc and RENSHI-PC (found once by name, once by address), and each is its own entry.
using IdRule = bool (*)(std::string_view, std::string_view);
bool sameId(std::string_view a, std::string_view b) {
    return a == b;
}
constexpr IdRule kIdRules[] = {sameId, idsMatch};

// The search shared by the operations, from the book's index (ContactBook::findComputer has the
// rules): walking the book for each lookup made anything that looks up every computer, as
// attributing a message did, take seconds with a large book.
Match findComputer(const XmlDocument& doc, const std::string& GroupId,
                   const std::string& ComputerId) {
    const ContactBook& book = doc.model();
    const std::optional<BookPlace> place = book.findComputer(GroupId, ComputerId);
    if (!place)
        return {};
    return {book.groupNode(place->group), book.computerNode(*place)};
}

// The editors' searches walk the groups: they run between appends, and each append would make
// the index be built again. A book has far fewer groups than computers.
XmlNode findGroup(const XmlDocument& doc, const std::string& GroupId) {
    const XmlNodeList groups = doc.documentElement().childNodes();
    const int groupCount = groups.length();
    for (IdRule rule : kIdRules) {
        for (int g = 0; g < groupCount; ++g) {
            const XmlNode group = groups.item(g);
            if (rule(group.getAttribute("id"), GroupId))
                return group;
        }
    }
    return {};
}

// The `ref.occurrence`-th child whose id is exactly `ref.id`; the first such child when there
// are fewer (another program changed the book since the entry was shown); none when no child
// has exactly that id, since an id that differs in case names another entry.
XmlNode findExactly(const XmlNode& parent, const EntryRef& ref) {
    const XmlNodeList children = parent.childNodes();
    const int count = children.length();
    XmlNode first;
    int seen = 0;
    for (int i = 0; i < count; ++i) {
        const XmlNode child = children.item(i);
        if (child.getAttribute("id") != ref.id)
            continue;
        if (seen++ == ref.occurrence)
            return child;
        if (!first)
            first = child;
    }
    return first;
}

} // namespace

std::string foldId(std::string_view id) {
    return protocol::oem::upperAscii(id);
}

bool idsMatch(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (protocol::oem::upperAscii(a[i]) != protocol::oem::upperAscii(b[i]))
            return false;
    return true;
}

bool DeleteComputer(XmlDocument& doc, const std::string& GroupId, const std::string& ComputerId) {
    Match m = findComputer(doc, GroupId, ComputerId);
    if (!m.computer)
        return false;
    m.group.removeChild(m.computer);
    return true;
}

bool DeleteComputer(XmlDocument& doc, const EntryRef& Group, const EntryRef& Computer) {
    XmlNode group = findExactly(doc.documentElement(), Group);
    if (!group)
        return false;
    const XmlNode computer = findExactly(group, Computer);
    if (!computer)
        return false;
    group.removeChild(computer);
    return true;
}

bool DeleteGroup(XmlDocument& doc, const EntryRef& Group) {
    const XmlNode group = findExactly(doc.documentElement(), Group);
    if (!group)
        return false;
    doc.documentElement().removeChild(group);
    return true;
}

std::optional<std::string> ComputerInGroup(const XmlDocument& doc, const std::string& GroupId,
                                           const std::string& ComputerId) {
    const XmlNode group = findGroup(doc, GroupId);
    if (!group)
        return std::nullopt;
    const XmlNodeList computers = group.childNodes();
    const int count = computers.length();
    std::optional<std::string> folded;
    for (int c = 0; c < count; ++c) {
        std::string id = computers.item(c).getAttribute("id");
        if (id == ComputerId)
            return id;
        if (!folded && idsMatch(id, ComputerId))
            folded = std::move(id);
    }
    return folded;
}

bool DeleteGroup(XmlDocument& doc, const std::string& GroupId) {
    XmlNode group = findGroup(doc, GroupId);
    if (!group)
        return false;
    doc.documentElement().removeChild(group);
    return true;
}

bool GetComputerInfo(const XmlDocument& doc, const std::string& GroupId,
                     const std::string& ComputerId, std::string& ComputerName,
                     std::string& UserName, std::string& IpAddress, std::string& Memo) {
    const ContactBook& book = doc.model();
    const std::optional<BookPlace> place = book.findComputer(GroupId, ComputerId);
    if (!place)
        return false;
    const BookComputer& computer = book.computer(*place);
    if (computer.computerName)
        ComputerName = *computer.computerName;
    if (computer.userName)
        UserName = *computer.userName;
    if (computer.ipAddress)
        IpAddress = *computer.ipAddress;
    if (computer.memo)
        Memo = *computer.memo;
    return true;
}

bool SetComputerInfo(XmlDocument& doc, const std::string& ConfigPath, const std::string& GroupId,
                     const std::string& ComputerId, const std::string& UserName,
                     const std::string& IpAddress, const std::string& Memo) {
    checkLength(ComputerId, kMaxIdBytes, BookField::ComputerName);
    checkLength(UserName, kMaxFieldBytes, BookField::UserName);
    checkLength(IpAddress, kMaxFieldBytes, BookField::IpAddress);
    checkLength(Memo, kMaxMemoBytes, BookField::Memo);
    // Every value is checked before the first field changes: a refused one leaves the book as
    // it was.
    checkXmlValue(ComputerId, BookField::ComputerName);
    checkXmlValue(UserName, BookField::UserName);
    checkXmlValue(IpAddress, BookField::IpAddress);
    checkXmlValue(Memo, BookField::Memo);
    XmlNode computer = findComputer(doc, GroupId, ComputerId).computer;
    if (!computer)
        return false;
    const XmlNodeList fields = computer.childNodes();
    for (int i = 0; i < fields.length(); ++i) {
        XmlNode field = fields.item(i);
        const std::string name = field.nodeName();
        if (name == "ComputerName")
            field.setText(ComputerId);
        else if (name == "UserName")
            field.setText(UserName);
        else if (name == "IpAddress")
            field.setText(IpAddress);
        else if (name == "Memo")
            field.setText(Memo);
    }
    doc.save(ConfigPath);
    return true;
}

void AddComputer(XmlDocument& doc, const std::string& GroupId, const std::string& ComputerId,
                 const std::string& ComputerName, const std::string& UserName,
                 const std::string& IpAddress, const std::string& Memo) {
    checkLength(GroupId, kMaxIdBytes, BookField::GroupName);
    checkLength(ComputerId, kMaxIdBytes, BookField::ComputerName);
    checkLength(ComputerName, kMaxFieldBytes, BookField::ComputerName);
    checkLength(UserName, kMaxFieldBytes, BookField::UserName);
    checkLength(IpAddress, kMaxFieldBytes, BookField::IpAddress);
    checkLength(Memo, kMaxMemoBytes, BookField::Memo);

    // Build the whole computer before linking anything, so that a refused value leaves the
    // book as it was (the unlinked elements are freed with the document).
    XmlNode computer = doc.createElement("computer");
    computer.setAttribute("id", ComputerId);
    const std::pair<const char*, const std::string*> fields[] = {{"ComputerName", &ComputerName},
                                                                 {"UserName", &UserName},
                                                                 {"IpAddress", &IpAddress},
                                                                 {"Memo", &Memo}};
    for (const auto& [name, value] : fields) {
        XmlNode field = doc.createElement(name);
        computer.appendChild(field);
        field.setText(*value);
    }
    AddGroup(doc, GroupId).appendChild(computer);
}

XmlNode AddGroup(XmlDocument& doc, const std::string& GroupId) {
    checkLength(GroupId, kMaxIdBytes, BookField::GroupName);
    XmlNode group = findGroup(doc, GroupId);
    if (!group) {
        group = doc.createElement("group");
        group.setAttribute("id", GroupId);
        doc.documentElement().appendChild(group);
    }
    return group;
}

} // namespace lanquill::contacts
