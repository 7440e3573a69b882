#pragma once

#include "fs/Error.h"

// A Chunk field read would pass the end of the chunk's content.
class IndexOutOfBoundsException : public Error {
public:
    IndexOutOfBoundsException() : Error("the file is malformed") {}
    ~IndexOutOfBoundsException() override;
};
