#pragma once

// A Chunk field read would pass the end of the chunk's content.
class IndexOutOfBoundsException {
public:
    virtual ~IndexOutOfBoundsException();
};
