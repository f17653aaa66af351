// Bytes on the wire: one bounds-checked reader and one writer for every packet Lanquill builds
// or parses. NetBIOS framing is big-endian, SMB inside it little-endian; both are here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lanquill::protocol {

using Bytes = std::vector<std::uint8_t>;
using Ipv4 = std::array<std::uint8_t, 4>; // network byte order: {192, 168, 0, 5}

// Reads fields from a packet and remembers when a read would pass its end; every later read
// then fails too, so a parser checks `ok()` once after a run of reads. Failed reads give zeros
// and empty spans, never bytes from beyond the packet.
class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> data) : data_(data) {}
    bool ok() const { return ok_; }
    std::size_t position() const { return pos_; }
    std::size_t remaining() const { return ok_ ? data_.size() - pos_ : 0; }
    bool atEnd() const { return ok_ && pos_ == data_.size(); }

    std::uint8_t u8() { return need(1) ? data_[pos_++] : 0; }
    std::uint16_t u16be() {
        if (!need(2))
            return 0;
        const auto value = static_cast<std::uint16_t>((data_[pos_] << 8) | data_[pos_ + 1]);
        pos_ += 2;
        return value;
    }
    std::uint16_t u16le() {
        if (!need(2))
            return 0;
        const auto value = static_cast<std::uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
        pos_ += 2;
        return value;
    }
    std::uint32_t u32be() {
        if (!need(4))
            return 0;
        const std::uint32_t high = u16be();
        return (high << 16) | u16be();
    }
    std::uint32_t u32le() {
        if (!need(4))
            return 0;
        const std::uint32_t low = u16le();
        return low | (std::uint32_t{u16le()} << 16);
    }
    std::span<const std::uint8_t> take(std::size_t count) {
        if (!need(count))
            return {};
        auto part = data_.subspan(pos_, count);
        pos_ += count;
        return part;
    }
    void skip(std::size_t count) { take(count); }
    // Bytes up to the next zero byte, which is consumed; fails when there is none.
    std::string zeroTerminated() {
        if (!ok_)
            return {};
        const auto rest = data_.subspan(pos_);
        for (std::size_t i = 0; i < rest.size(); ++i) {
            if (rest[i] == 0) {
                std::string text(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(i));
                pos_ += i + 1;
                return text;
            }
        }
        ok_ = false;
        return {};
    }
    // Marks the read as failed, for a parser that found a field it refuses.
    void fail() { ok_ = false; }

private:
    bool need(std::size_t count) {
        if (!ok_ || data_.size() - pos_ < count)
            ok_ = false;
        return ok_;
    }
    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

// Appends fields to a packet.
class ByteWriter {
public:
    ByteWriter() = default;
    explicit ByteWriter(Bytes start) : out_(std::move(start)) {}

    ByteWriter& u8(std::uint8_t value) {
        out_.push_back(value);
        return *this;
    }
    ByteWriter& u16be(std::uint16_t value) {
        out_.push_back(static_cast<std::uint8_t>(value >> 8));
        out_.push_back(static_cast<std::uint8_t>(value & 0xFF));
        return *this;
    }
    ByteWriter& u16le(std::uint16_t value) {
        out_.push_back(static_cast<std::uint8_t>(value & 0xFF));
        out_.push_back(static_cast<std::uint8_t>(value >> 8));
        return *this;
    }
    ByteWriter& u32be(std::uint32_t value) {
        u16be(static_cast<std::uint16_t>(value >> 16));
        return u16be(static_cast<std::uint16_t>(value & 0xFFFF));
    }
    ByteWriter& u32le(std::uint32_t value) {
        u16le(static_cast<std::uint16_t>(value & 0xFFFF));
        return u16le(static_cast<std::uint16_t>(value >> 16));
    }
    ByteWriter& bytes(std::span<const std::uint8_t> data) {
        out_.insert(out_.end(), data.begin(), data.end());
        return *this;
    }
    ByteWriter& text(std::string_view data) {
        out_.insert(out_.end(), data.begin(), data.end());
        return *this;
    }
    ByteWriter& zeros(std::size_t count) {
        out_.insert(out_.end(), count, 0);
        return *this;
    }
    // Overwrites a big-endian 16-bit field written earlier (a length known only at the end).
    void patch16be(std::size_t at, std::uint16_t value) {
        out_.at(at) = static_cast<std::uint8_t>(value >> 8);
        out_.at(at + 1) = static_cast<std::uint8_t>(value & 0xFF);
    }
    std::size_t size() const { return out_.size(); }
    const Bytes& data() const { return out_; }
    Bytes take() { return std::move(out_); }

private:
    Bytes out_;
};

} // namespace lanquill::protocol
