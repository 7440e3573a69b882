#pragma once

// A file could not be opened for reading; thrown as a pointer to a new object.
class FileNotFoundException {
public:
    virtual ~FileNotFoundException();
};
