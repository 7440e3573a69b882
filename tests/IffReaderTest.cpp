#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "iff/FileNotFoundException.h"
#include "iff/FormatError.h"
#include "iff/IffReader.h"
#include "iff/IllegalOperation.h"
#include "support/IffWriter.h"

using namespace iff;

namespace {

class IffReaderTest : public ::testing::Test {
protected:
    std::string file(const Bytes& data) {
        save(path, data);
        return path;
    }
    void TearDown() override { std::filesystem::remove(path); }

    std::string path = (std::filesystem::temp_directory_path() / ("iffreader-" + std::to_string(::getpid()))).string();
};

}  // namespace

TEST_F(IffReaderTest, WalksFormsAndOddSizedChunks) {
    IffReader reader(file(form("BITM", chunk("ODD1", text("abcde")) + chunk("form", {1, 2}) +
                                           chunk(std::string("A\0C", 3) + "D", {}) + form("SKIP", chunk("XXXX", {1}))) +
                          chunk("LAST", {9})));
    EXPECT_EQ(reader.formType(), "BITM");
    EXPECT_THROW(reader.chunkName(), IllegalOperation);
    reader.enterForm();
    EXPECT_THROW(reader.formType(), IllegalOperation);
    EXPECT_EQ(reader.chunkName(), "ODD1");
    EXPECT_EQ(reader.chunkIdAsInt(), 'O' | 'D' << 8 | 'D' << 16 | '1' << 24);
    auto odd = reader.readChunk();
    EXPECT_EQ(odd->getSize(), 6);
    EXPECT_EQ(odd->getLength(), 5);
    EXPECT_EQ(odd->getId(), "ODD1");
    EXPECT_FALSE(reader.isForm());  // lower-case "form" is a plain chunk
    EXPECT_EQ(reader.chunkName(), "form");
    reader.skip();
    EXPECT_EQ(reader.chunkName(), "A");  // a NUL inside an id shortens the text
    reader.skip();
    EXPECT_EQ(reader.formType(), "SKIP");
    reader.skip();  // passes the whole FORM, children and pad byte
    EXPECT_EQ(reader.readChunk()->getSize(), 2);
    EXPECT_TRUE(reader.eof());
    // once at the end, nothing acts on the stale header
    EXPECT_THROW(reader.chunkName(), FormatError);
    EXPECT_THROW(reader.readChunk(), FormatError);
    EXPECT_THROW(reader.skip(), FormatError);
    EXPECT_THROW(reader.enterForm(), FormatError);
}

TEST_F(IffReaderTest, EndOfFileAndStrayBytes) {
    EXPECT_TRUE(IffReader(file({})).eof());
    for (int stray : {0, 1, 7, 8}) {
        IffReader reader(file(chunk("DATA", {1, 2, 3}) + Bytes(std::size_t(stray), 'x')));
        reader.readChunk();
        EXPECT_EQ(reader.eof(), stray < 8) << stray;
    }
    // the pad byte after the last chunk may be missing
    Bytes unpadded = chunk("DATA", {1, 2, 3});
    unpadded.pop_back();
    IffReader reader(file(unpadded));
    auto last = reader.readChunk();
    EXPECT_EQ(last->getSize(), 4);
    EXPECT_EQ(last->getData()[3], 0);
    EXPECT_TRUE(reader.eof());
}

TEST_F(IffReaderTest, RefusesSizesTheFileCannotHold) {
    const Bytes content(2048, 7);
    for (std::uint32_t declared : {2049u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
        IffReader reader(file(chunk("BIG ", content, declared)));
        EXPECT_THROW(reader.readChunk(), FormatError) << declared;
        IffReader skipper(file(chunk("BIG ", content, declared)));
        EXPECT_THROW(skipper.skip(), FormatError) << declared;
    }
    for (std::uint32_t declared : {0u, 3u, 0x80000004u}) {
        IffReader reader(file(text("FORM") + be32(declared) + text("BITM") + chunk("DATA", {1})));
        EXPECT_THROW(reader.enterForm(), FormatError) << declared;
    }
}

TEST_F(IffReaderTest, OnlyRegularFilesOpen) {
    EXPECT_THROW(IffReader("/nonexistent/x.mat"), FileNotFoundException*);
    EXPECT_THROW(IffReader(std::filesystem::temp_directory_path()), FileNotFoundException*);
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    EXPECT_THROW(IffReader{path}, FileNotFoundException*);
}
