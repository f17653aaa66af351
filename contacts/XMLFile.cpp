#include "contacts/XMLFile.h"

#include "protocol/OemCodePage.h"

namespace lanquill::contacts {

void checkLength(const std::string& value, std::size_t limit, const char* what) {
    if (value.size() > limit)
        throw XmlError(std::string(what) + "太长（" + std::to_string(value.size()) +
                       " 字节，最多 " + std::to_string(limit) + " 字节）");
}

namespace {

struct Match {
    XmlNode group;
    XmlNode computer;
};

// The search shared by the operations: the first computer, in document order, whose id matches
// in a group whose id matches; a later group of the same id is searched when an earlier one
// holds no such computer.
Match findComputer(const XmlDocument& doc, const std::string& GroupId,
                   const std::string& ComputerId) {
    const XmlNodeList groups = doc.documentElement().childNodes();
    const int groupCount = groups.length();
    for (int g = 0; g < groupCount; ++g) {
        const XmlNode group = groups.item(g);
        if (!idsMatch(group.getAttribute("id"), GroupId))
            continue;
        const XmlNodeList computers = group.childNodes();
        const int computerCount = computers.length();
        for (int c = 0; c < computerCount; ++c) {
            const XmlNode computer = computers.item(c);
            if (idsMatch(computer.getAttribute("id"), ComputerId))
                return {group, computer};
        }
    }
    return {};
}

XmlNode findGroup(const XmlDocument& doc, const std::string& GroupId) {
    const XmlNodeList groups = doc.documentElement().childNodes();
    const int groupCount = groups.length();
    for (int g = 0; g < groupCount; ++g) {
        const XmlNode group = groups.item(g);
        if (idsMatch(group.getAttribute("id"), GroupId))
            return group;
    }
    return {};
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
    const XmlNode computer = findComputer(doc, GroupId, ComputerId).computer;
    if (!computer)
        return false;
    const XmlNodeList fields = computer.childNodes();
    for (int i = 0; i < fields.length(); ++i) {
        const XmlNode field = fields.item(i);
        const std::string name = field.nodeName();
        if (name == "ComputerName")
            ComputerName = field.text();
        else if (name == "UserName")
            UserName = field.text();
        else if (name == "IpAddress")
            IpAddress = field.text();
        else if (name == "Memo")
            Memo = field.text();
    }
    return true;
}

bool SetComputerInfo(XmlDocument& doc, const std::string& ConfigPath, const std::string& GroupId,
                     const std::string& ComputerId, const std::string& UserName,
                     const std::string& IpAddress, const std::string& Memo) {
    checkLength(ComputerId, kMaxIdBytes, "机器名");
    checkLength(UserName, kMaxFieldBytes, "用户名");
    checkLength(IpAddress, kMaxFieldBytes, "IP地址");
    checkLength(Memo, kMaxMemoBytes, "说明");
    // Every value is checked before the first field changes: a refused one leaves the book as
    // it was.
    checkXmlValue(ComputerId, "机器名");
    checkXmlValue(UserName, "用户名");
    checkXmlValue(IpAddress, "IP地址");
    checkXmlValue(Memo, "说明");
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
    checkLength(GroupId, kMaxIdBytes, "工作组名");
    checkLength(ComputerId, kMaxIdBytes, "机器名");
    checkLength(ComputerName, kMaxFieldBytes, "机器名");
    checkLength(UserName, kMaxFieldBytes, "用户名");
    checkLength(IpAddress, kMaxFieldBytes, "IP地址");
    checkLength(Memo, kMaxMemoBytes, "说明");

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
    checkLength(GroupId, kMaxIdBytes, "工作组名");
    XmlNode group = findGroup(doc, GroupId);
    if (!group) {
        group = doc.createElement("group");
        group.setAttribute("id", GroupId);
        doc.documentElement().appendChild(group);
    }
    return group;
}

} // namespace lanquill::contacts
