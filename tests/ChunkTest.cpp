#include <gtest/gtest.h>

#include <cstring>

#include "iff/Chunk.h"
#include "iff/IndexOutOfBoundsException.h"
#include "support/IffWriter.h"

using namespace iff;

static Chunk make(const Bytes& content, std::int32_t length) {
    auto payload = std::make_unique<std::uint8_t[]>(content.size() + 1);
    std::memcpy(payload.get(), content.data(), content.size());
    return Chunk(std::move(payload), std::int32_t(content.size()), length, "TEST");
}

TEST(Chunk, FieldReadsStopAtTheDeclaredEndWithoutMovingTheCursor) {
    float one = 1.0f;
    Bytes floatbytes(4);
    std::memcpy(floatbytes.data(), &one, 4);
    Chunk eight = make(le32(-1) + floatbytes, 8);
    EXPECT_EQ(eight.readInt(), -1);
    EXPECT_EQ(eight.readFloat(), 1.0f);
    EXPECT_FALSE(eight.hasMore());
    EXPECT_THROW(eight.readInt(), IndexOutOfBoundsException);

    // a 5-byte chunk with its pad byte: the pad byte never completes a field
    Chunk odd = make(le32(258) + Bytes{7, 0}, 5);
    EXPECT_EQ(odd.readInt(), 258);
    EXPECT_THROW(odd.skip4(), IndexOutOfBoundsException);
    EXPECT_TRUE(odd.hasMore());
    EXPECT_THROW(make({}, 0).readString(), IndexOutOfBoundsException);
}

TEST(Chunk, StringsEndAtTheirZeroOrTheDeclaredEnd) {
    Chunk texts = make(Bytes{0} + text("xy") + Bytes{0}, 4);
    EXPECT_EQ(texts.readString(), "");
    EXPECT_EQ(texts.readString(), "xy");
    EXPECT_THROW(texts.readString(), IndexOutOfBoundsException);
    // without a zero the text is the declared content, the pad byte not included
    Chunk unterminated = make(text("rocks") + Bytes{'!'}, 5);
    EXPECT_EQ(unterminated.readString(), "rocks");
    EXPECT_THROW(unterminated.readString(), IndexOutOfBoundsException);
}
