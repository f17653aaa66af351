#include "contacts/ContactBook.h"

#include "contacts/XMLFile.h"
#include "protocol/Addresses.h"
#include "protocol/Hash.h"
#include "protocol/OemCodePage.h"

#include <algorithm>

namespace lanquill::contacts {

namespace fnv1a = protocol::fnv1a;

namespace {

std::uint32_t addressKey(const protocol::Ipv4& address) {
    return std::uint32_t{address[0]} << 24 | std::uint32_t{address[1]} << 16 |
           std::uint32_t{address[2]} << 8 | std::uint32_t{address[3]};
}

std::size_t hashIds(std::string_view group, std::string_view computer, bool fold) {
    // The group's length goes in too, so that ("AB", "C") and ("A", "BC") differ.
    const auto upper = [fold](char c) { return fold ? protocol::oem::upperAscii(c) : c; };
    std::uint64_t hash = fnv1a::add(fnv1a::Start, group, upper);
    hash = (hash ^ group.size()) * fnv1a::Prime;
    return static_cast<std::size_t>(fnv1a::add(hash, computer, upper));
}

} // namespace

std::size_t ContactBook::ExactHash::operator()(const Ids& ids) const {
    return hashIds(ids.group, ids.computer, false);
}
bool ContactBook::ExactEqual::operator()(const Ids& a, const Ids& b) const {
    return a.group == b.group && a.computer == b.computer;
}
std::size_t ContactBook::FoldedHash::operator()(const Ids& ids) const {
    return hashIds(ids.group, ids.computer, true);
}
std::size_t ContactBook::FoldedHash::operator()(std::string_view id) const {
    return static_cast<std::size_t>(
        fnv1a::add(fnv1a::Start, id, [](char c) { return protocol::oem::upperAscii(c); }));
}
bool ContactBook::FoldedEqual::operator()(const Ids& a, const Ids& b) const {
    return idsMatch(a.group, b.group) && idsMatch(a.computer, b.computer);
}
bool ContactBook::FoldedEqual::operator()(std::string_view a, std::string_view b) const {
    return idsMatch(a, b);
}

ContactBook::ContactBook(const XmlDocument& doc) {
    // A group is any child of the root and a computer any child of a group, whatever the
    // element's name, as the searches have always taken them.
    const XmlNodeList groups = doc.documentElement().childNodes();
    const int groupCount = groups.length();
    groups_.resize(static_cast<std::size_t>(groupCount));
    groupNodes_.reserve(static_cast<std::size_t>(groupCount));
    computerNodes_.resize(static_cast<std::size_t>(groupCount));
    for (int g = 0; g < groupCount; ++g) {
        const XmlNode groupNode = groups.item(g);
        groupNodes_.push_back(groupNode);
        BookGroup& group = groups_[static_cast<std::size_t>(g)];
        group.id = groupNode.getAttribute("id");
        const XmlNodeList computers = groupNode.childNodes();
        const int count = computers.length();
        group.computers.resize(static_cast<std::size_t>(count));
        auto& nodes = computerNodes_[static_cast<std::size_t>(g)];
        nodes.reserve(static_cast<std::size_t>(count));
        for (int c = 0; c < count; ++c) {
            const XmlNode node = computers.item(c);
            nodes.push_back(node);
            BookComputer& computer = group.computers[static_cast<std::size_t>(c)];
            computer.id = node.getAttribute("id");
            const XmlNodeList fields = node.childNodes();
            for (int f = 0; f < fields.length(); ++f) {
                const XmlNode field = fields.item(f);
                const std::string name = field.nodeName();
                if (name == "ComputerName")
                    computer.computerName = field.text();
                else if (name == "UserName")
                    computer.userName = field.text();
                else if (name == "IpAddress")
                    computer.ipAddress = field.text();
                else if (name == "Memo")
                    computer.memo = field.text();
            }
        }
        computerCount_ += static_cast<std::size_t>(count);
    }

    // The values stay where they are from here on: the indexes hold views of their texts.
    exact_.reserve(computerCount_);
    folded_.reserve(computerCount_);
    byId_.reserve(computerCount_);
    byAddress_.reserve(computerCount_);
    for (int g = 0; g < groupCount; ++g) {
        const BookGroup& group = groups_[static_cast<std::size_t>(g)];
        for (int c = 0; c < static_cast<int>(group.computers.size()); ++c) {
            const BookComputer& computer = group.computers[static_cast<std::size_t>(c)];
            const BookPlace place{g, c};
            const Ids ids{group.id, computer.id};
            // Walking in document order, the first entry of each key is the one kept.
            const bool first = exact_.try_emplace(ids, place).second;
            folded_.try_emplace(ids, place);
            byId_.try_emplace(computer.id, place);
            if (!first || !computer.ipAddress || computer.ipAddress->empty())
                continue;
            if (const auto address = protocol::parseIpv4(*computer.ipAddress))
                byAddress_.push_back({addressKey(*address), place});
            else
                byText_[*computer.ipAddress].push_back(place);
        }
    }
    std::sort(byAddress_.begin(), byAddress_.end());
    places_.reserve(byAddress_.size());
    for (const AtAddress& entry : byAddress_)
        places_.push_back(entry.place);
}

std::optional<BookPlace> ContactBook::findComputer(std::string_view groupId,
                                                   std::string_view computerId) const {
    const Ids ids{groupId, computerId};
    if (const auto it = exact_.find(ids); it != exact_.end())
        return it->second;
    if (const auto it = folded_.find(ids); it != folded_.end())
        return it->second;
    return std::nullopt;
}

std::optional<BookPlace> ContactBook::firstWithId(std::string_view id) const {
    if (const auto it = byId_.find(id); it != byId_.end())
        return it->second;
    return std::nullopt;
}

std::span<const BookPlace> ContactBook::atAddress(std::string_view address) const {
    if (const auto parsed = protocol::parseIpv4(address)) {
        const std::uint32_t key = addressKey(*parsed);
        const auto [from, to] = std::equal_range(
            byAddress_.begin(), byAddress_.end(), AtAddress{key, {}},
            [](const AtAddress& a, const AtAddress& b) { return a.address < b.address; });
        return std::span(places_).subspan(static_cast<std::size_t>(from - byAddress_.begin()),
                                          static_cast<std::size_t>(to - from));
    }
    // A text that is no address can only be the same text: an address it would equal reads as
    // four numbers itself.
    if (const auto it = byText_.find(address); it != byText_.end())
        return it->second;
    return {};
}

} // namespace lanquill::contacts
