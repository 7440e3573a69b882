// The reader and the payload cursor at their edges.

#include <gtest/gtest.h>

#include <filesystem>

#include "iff/FormatError.h"
#include "iff/IffReader.h"
#include "iff/IffWriter.h"
#include "support/IffWriter.h"

using namespace iff;

TEST(IffReader, WalksFormsAndChunksAndRefusesTheWrongKind) {
    const std::string path = std::filesystem::temp_directory_path() / "iffreader-walk";
    save(path, form("BITM", chunk("ODD1", text("abcde")) + chunk("form", {1}) + chunk(std::string("A\0CD", 4), {}) +
                                form("SKIP", chunk("XXXX", {1}))) + chunk("LAST", {9}));
    IffReader reader(path);
    EXPECT_THROW(reader.chunkName(), std::logic_error);
    reader.enterForm();
    EXPECT_THROW(reader.formType(), std::logic_error);
    EXPECT_EQ(reader.chunkIdAsInt(), 'O' | 'D' << 8 | 'D' << 16 | '1' << 24);
    auto odd = reader.readChunk();
    EXPECT_EQ(odd->getSize(), 6);
    EXPECT_EQ(reader.chunkName(), "form");  // lower case: a plain chunk
    reader.skip();
    EXPECT_EQ(reader.chunkName(), "A");  // a NUL inside an id shortens the text
    reader.skip();
    reader.skip();  // a whole FORM, children and pad byte
    EXPECT_EQ(reader.readChunk()->getId(), "LAST");
    EXPECT_TRUE(reader.eof());
    EXPECT_THROW(reader.chunkName(), FormatError);  // nothing acts on the stale header
    EXPECT_THROW(reader.skip(), FormatError);

    // the cursor never reads the pad byte, and a refused read does not move it
    EXPECT_EQ(odd->readInt(), 'a' | 'b' << 8 | 'c' << 16 | 'd' << 24);
    EXPECT_THROW(odd->readInt(), std::logic_error);
    EXPECT_THROW(odd->skip4(), std::logic_error);
    EXPECT_EQ(odd->readString(), "e");
    EXPECT_THROW(odd->readString(), std::logic_error);
    std::filesystem::remove(path);
}

TEST(IffWriter, WritesWhatTheTestWriterWrites) {
    // nested forms, an odd and an empty chunk: sizes are counted from the children, pads included
    IffWriter out;
    out.beginForm("BITM");
    out.beginForm("FRAM");
    out.chunk("ODD1", text("abcde").data(), 5);
    out.endForm();
    out.chunk("NONE", nullptr, 0);
    out.endForm();
    EXPECT_EQ(out.bytes(), form("BITM", form("FRAM", chunk("ODD1", text("abcde"))) + chunk("NONE", {})));
}
