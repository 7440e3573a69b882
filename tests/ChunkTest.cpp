#include <gtest/gtest.h>

#include <cstring>

#include "iff/Chunk.h"
#include "iff/IndexOutOfBoundsException.h"
#include "support/IffWriter.h"

using namespace iff;

namespace {

Chunk make(const Bytes& content, std::int32_t length) {
    auto payload = std::make_unique<std::uint8_t[]>(content.size() + 1);
    std::memcpy(payload.get(), content.data(), content.size());
    return Chunk(std::move(payload), std::int32_t(content.size()), length, "TEST");
}

}  // namespace

TEST(Chunk, IntsStopAtTheDeclaredEndWithoutMovingTheCursor) {
    Chunk eight = make(le32(1) + le32(2), 8);
    EXPECT_EQ(eight.readInt(), 1);
    EXPECT_EQ(eight.readInt(), 2);
    EXPECT_FALSE(eight.hasMore());
    EXPECT_THROW(eight.readInt(), IndexOutOfBoundsException);

    // a 5-byte chunk with its pad byte: the pad byte never completes a field
    Chunk odd = make(le32(258) + Bytes{7, 0}, 5);
    EXPECT_EQ(odd.getSize(), 6);
    EXPECT_EQ(odd.readInt(), 258);
    EXPECT_THROW(odd.readInt(), IndexOutOfBoundsException);
    EXPECT_THROW(odd.skip4(), IndexOutOfBoundsException);
    EXPECT_TRUE(odd.hasMore());

    Chunk empty = make({}, 0);
    EXPECT_THROW(empty.readInt(), IndexOutOfBoundsException);
    EXPECT_THROW(empty.readString(), IndexOutOfBoundsException);
    EXPECT_NE(empty.getData(), nullptr);
    EXPECT_EQ(make(le32(-1), 4).readInt(), -1);
    float one = 1.0f;
    Bytes floatbytes(4);
    std::memcpy(floatbytes.data(), &one, 4);
    EXPECT_EQ(make(floatbytes, 4).readFloat(), 1.0f);
}

TEST(Chunk, StringsEndAtTheirZeroOrTheDeclaredEnd) {
    Chunk terminated = make(text("abc") + Bytes{0}, 4);
    EXPECT_EQ(terminated.readString(), "abc");
    EXPECT_FALSE(terminated.hasMore());
    EXPECT_THROW(terminated.readString(), IndexOutOfBoundsException);

    Chunk twotexts = make(Bytes{0} + text("xy") + Bytes{0}, 4);
    EXPECT_EQ(twotexts.readString(), "");
    EXPECT_EQ(twotexts.readString(), "xy");

    // no zero byte: the text is the declared content, the pad byte not included
    Chunk unterminated = make(text("rocks") + Bytes{'!'}, 5);
    EXPECT_EQ(unterminated.readString(), "rocks");
    EXPECT_THROW(unterminated.readString(), IndexOutOfBoundsException);
}
