#include <gtest/gtest.h>

#include <filesystem>

#include "iff/FormatError.h"
#include "iff/IffReader.h"
#include "iff/IllegalOperation.h"
#include "support/IffWriter.h"

using namespace iff;

TEST(IffReader, WalksFormsAndChunksAndRefusesTheWrongKind) {
    const std::string path = (std::filesystem::temp_directory_path() / "iffreader-walk").string();
    save(path, form("BITM", chunk("ODD1", text("abcde")) + chunk("form", {1, 2}) +
                                chunk(std::string("A\0CD", 4), {}) + form("SKIP", chunk("XXXX", {1}))) +
                   chunk("LAST", {9}));
    IffReader reader(path);
    EXPECT_EQ(reader.formType(), "BITM");
    EXPECT_THROW(reader.chunkName(), IllegalOperation);
    reader.enterForm();
    EXPECT_THROW(reader.formType(), IllegalOperation);
    EXPECT_EQ(reader.chunkIdAsInt(), 'O' | 'D' << 8 | 'D' << 16 | '1' << 24);
    auto odd = reader.readChunk();
    EXPECT_EQ(odd->getSize(), 6);
    EXPECT_EQ(odd->getLength(), 5);
    EXPECT_EQ(reader.chunkName(), "form");  // lower case: a plain chunk
    reader.skip();
    EXPECT_EQ(reader.chunkName(), "A");  // a NUL inside an id shortens the text
    reader.skip();
    EXPECT_EQ(reader.formType(), "SKIP");
    reader.skip();  // the whole FORM, children and pad byte
    EXPECT_EQ(reader.readChunk()->getId(), "LAST");
    EXPECT_TRUE(reader.eof());
    // once at the end, nothing acts on the stale header
    EXPECT_THROW(reader.chunkName(), FormatError);
    EXPECT_THROW(reader.readChunk(), FormatError);
    EXPECT_THROW(reader.skip(), FormatError);
    std::filesystem::remove(path);
}
