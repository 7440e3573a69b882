#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

#include "fs/InputFile.h"
#include "iff/Chunk.h"

// Sequential reader over one IFF file, always positioned on one chunk header.
// Every size taken from the file is compared with the bytes the file really
// holds before anything is allocated or skipped.
class IffReader {
public:
    // Opens a regular file (see InputFile) and reads the first header.
    explicit IffReader(const std::string& path);
    virtual ~IffReader();
    IffReader(const IffReader&) = delete;
    IffReader& operator=(const IffReader&) = delete;

    bool isForm() const;
    // What the reader is on, for messages: "chunk 'INFO'", "FORM 'FRAM'" or "the end of the file".
    std::string describe() const;
    // Whether the reader is on a FORM of `type`, or on a plain chunk `id`; a header whose size is
    // out of range raises FormatError.
    bool atForm(const char* type) const { return isForm() && !atend && formType() == type; }
    bool atChunk(const char* id) const { return !isForm() && !atend && chunkName() == id; }
    // Raise FormatError "expected WHAT, found ..." unless the reader is there; `what` defaults
    // to the form or chunk named.
    void expectForm(const char* type, const char* what = nullptr) const;
    void expectChunk(const char* id, const char* what = nullptr) const;
    std::string chunkName() const;
    std::string formType() const;
    std::int32_t chunkIdAsInt() const;
    void enterForm();
    void skip();
    std::unique_ptr<Chunk> readChunk();
    // The declared content length of the chunk the reader is on.
    std::int64_t chunkLength() const { return length; }
    // The file's modification time, taken when it was opened.
    const timespec& modified() const { return input.modified(); }
    // True once a header read has met the end of the file.
    bool eof() const { return atend; }

private:
    void readHeader();
    // A header met at the end of the file, or with a size out of range, is unusable.
    void requireHeader() const;
    void requireChunk(bool form) const;
    // The declared content length; raises FormatError when the file holds less.
    std::uint64_t checkedLength() const;
    std::uint64_t remaining() const { return filesize > position ? filesize - position : 0; }

    char id[5] = {};
    char formtype[5] = {};
    // content length as declared (for a FORM, without its form type)
    std::int64_t length = 0;
    // the size field as it stands in the header
    std::uint32_t declared = 0;
    bool badsize = false;
    bool atend = false;
    InputFile input;
    std::FILE* file = nullptr;
    std::uint64_t filesize = 0;
    std::uint64_t position = 0;
};
