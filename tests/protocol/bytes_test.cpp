// The byte reader and writer under every codec: what the writer puts down the reader gets back,
// and a read past the end fails, gives nothing of what lies beyond, and stays failed.
#include "protocol/Bytes.h"

#include <gtest/gtest.h>

#include <functional>

using namespace lanquill::protocol;

namespace {

struct Field {
    const char* name;
    std::function<void(ByteWriter&)> write;
    std::function<std::uint64_t(ByteReader&)> read;
    std::uint64_t value;
    Bytes wire;
};

// A field of one codec: its writer and reader, a value and the bytes it is on the wire.
template <typename T>
Field field(const char* name, ByteWriter& (ByteWriter::*write)(T), T (ByteReader::*read)(), T value,
            Bytes wire) {
    return {name, [=](ByteWriter& w) { (w.*write)(value); },
            [=](ByteReader& r) { return std::uint64_t{(r.*read)()}; }, value, std::move(wire)};
}

std::vector<Field> fields() {
    using W = ByteWriter;
    using R = ByteReader;
    return {
        field<std::uint8_t>("u8", &W::u8, &R::u8, 0xA5, {0xA5}),
        field<std::uint16_t>("u16be", &W::u16be, &R::u16be, 0x1234, {0x12, 0x34}),
        field<std::uint16_t>("u16le", &W::u16le, &R::u16le, 0x1234, {0x34, 0x12}),
        field<std::uint32_t>("u32be", &W::u32be, &R::u32be, 0x89ABCDEF, {0x89, 0xAB, 0xCD, 0xEF}),
        field<std::uint32_t>("u32le", &W::u32le, &R::u32le, 0x89ABCDEF, {0xEF, 0xCD, 0xAB, 0x89})};
}

} // namespace

TEST(Bytes, EachFieldRoundTripsInItsByteOrder) {
    for (const auto& field : fields()) {
        ByteWriter writer;
        field.write(writer);
        EXPECT_EQ(writer.data(), field.wire) << field.name;
        ByteReader reader(writer.data());
        EXPECT_EQ(field.read(reader), field.value) << field.name;
        EXPECT_TRUE(reader.atEnd()) << field.name;
    }
}

TEST(Bytes, ZeroTerminatedTextRoundTrips) {
    ByteWriter writer;
    writer.text("PC-07").u8(0).text("").u8(0).text("tail");
    ByteReader reader(writer.data());
    EXPECT_EQ(reader.zeroTerminated(), "PC-07");
    EXPECT_EQ(reader.zeroTerminated(), "");
    EXPECT_TRUE(reader.ok());
    EXPECT_EQ(reader.remaining(), 4u);
    EXPECT_EQ(reader.zeroTerminated(), ""); // "tail" has no zero: refused, not taken
    EXPECT_FALSE(reader.ok());
}

// Every field read from one byte too few fails; the reader then refuses even a read that would
// have fitted, and gives zero for it.
TEST(Bytes, ReadPastTheEndFailsAndStaysFailed) {
    for (const auto& field : fields()) {
        const Bytes cut(field.wire.begin(), field.wire.end() - 1);
        ByteReader reader(cut);
        field.read(reader);
        EXPECT_FALSE(reader.ok()) << field.name;
        EXPECT_EQ(field.read(reader), 0u) << field.name;
        EXPECT_EQ(reader.remaining(), 0u) << field.name;
        EXPECT_FALSE(reader.atEnd()) << field.name;
        EXPECT_TRUE(reader.take(0).empty()) << field.name;
        EXPECT_EQ(reader.zeroTerminated(), "") << field.name;
        EXPECT_FALSE(reader.ok()) << field.name;
    }
    const Bytes two = {0x01, 0x02};
    ByteReader reader(two);
    EXPECT_TRUE(reader.take(3).empty());
    EXPECT_EQ(reader.u8(), 0u); // would fit, but the reader has failed
    EXPECT_FALSE(reader.ok());
}
