// The contact book as values: its workgroups and computers read out of the document once, with
// indexes by id and by address, so that looking a computer up, or finding who sent a message,
// costs the same with 10 computers as with 100,000. XmlDocument::model() hands out the book of
// the document as it is now; any change to the document makes the next call read it again.
#pragma once

#include "contacts/XmlDocument.h"
#include "protocol/Bytes.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace lanquill::contacts {

struct BookComputer {
    std::string id;
    // The field elements' texts; none where the element is missing, so that a reader can keep
    // its own default (GetComputerInfo leaves the caller's value). A later duplicate element wins.
    std::optional<std::string> computerName, userName, ipAddress, memo;
};

struct BookGroup {
    std::string id;
    std::vector<BookComputer> computers;
};

// Where an entry stands: the index of its group among the root's children, and of the computer
// among the group's. Places compare in document order.
struct BookPlace {
    int group = 0;
    int computer = 0;
    auto operator<=>(const BookPlace&) const = default;
};

class ContactBook {
public:
    explicit ContactBook(const XmlDocument& doc);
    ContactBook(const ContactBook&) = delete; // the indexes hold views of the values
    ContactBook& operator=(const ContactBook&) = delete;

    const std::vector<BookGroup>& groups() const { return groups_; }
    const BookGroup& group(int index) const { return groups_[static_cast<std::size_t>(index)]; }
    const BookComputer& computer(BookPlace place) const {
        return group(place.group).computers[static_cast<std::size_t>(place.computer)];
    }
    std::size_t computerCount() const { return computerCount_; }

    // The first computer, in document order, whose id matches in a group whose id matches: a
    // later group of the same id counts when an earlier one holds no such computer. A pair of
    // ids exactly as stored wins over one that matches only after folding a..z to A..Z.
    std::optional<BookPlace> findComputer(std::string_view groupId,
                                          std::string_view computerId) const;
    // The first computer, in document order, whose id matches `id` after folding.
    std::optional<BookPlace> firstWithId(std::string_view id) const;
    // In document order, the computers whose address is `address`: the same four numbers when
    // both read as an address (a hand-written "10.0.0.1" is 10.0.0.1), else the same text.
    // Computers without an address are never among them. Of entries with exactly the same pair
    // of ids only the first is listed: GetComputerInfo finds that one under those ids, so its
    // fields are the ones the later ones show.
    std::span<const BookPlace> atAddress(std::string_view address) const;

    // The elements behind the values, for the writers. Valid until the document changes.
    XmlNode groupNode(int index) const { return groupNodes_[static_cast<std::size_t>(index)]; }
    XmlNode computerNode(BookPlace place) const {
        return computerNodes_[static_cast<std::size_t>(place.group)]
                             [static_cast<std::size_t>(place.computer)];
    }

private:
    // Keys are views of the ids held in groups_, which do not move once the book is read. The
    // folded indexes hash and compare ids as folded without making folded copies.
    struct Ids {
        std::string_view group, computer;
    };
    struct ExactHash {
        std::size_t operator()(const Ids& ids) const;
    };
    struct ExactEqual {
        bool operator()(const Ids& a, const Ids& b) const;
    };
    struct FoldedHash {
        std::size_t operator()(const Ids& ids) const;
        std::size_t operator()(std::string_view id) const;
    };
    struct FoldedEqual {
        bool operator()(const Ids& a, const Ids& b) const;
        bool operator()(std::string_view a, std::string_view b) const;
    };

    std::vector<BookGroup> groups_;
    std::vector<XmlNode> groupNodes_;
    std::vector<std::vector<XmlNode>> computerNodes_;
    std::size_t computerCount_ = 0;
    // Each maps to the first place, in document order, of its key.
    std::unordered_map<Ids, BookPlace, ExactHash, ExactEqual> exact_;
    std::unordered_map<Ids, BookPlace, FoldedHash, FoldedEqual> folded_;
    std::unordered_map<std::string_view, BookPlace, FoldedHash, FoldedEqual> byId_;
    // Sorted by address, then place: one vector rather than one per address, for the many
    // addresses that only one computer has.
    struct AtAddress {
        std::uint32_t address;
        BookPlace place;
        auto operator<=>(const AtAddress&) const = default;
    };
    std::vector<AtAddress> byAddress_;                                    // four numbers
    std::unordered_map<std::string_view, std::vector<BookPlace>> byText_; // other addresses
    std::vector<BookPlace> places_; // byAddress_'s places, in its order, for atAddress()
};

} // namespace lanquill::contacts
