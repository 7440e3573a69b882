#pragma once

#include "fs/Error.h"

// A file could not be opened for reading. The reason is the system's error text, or what the
// entry is instead of a file.
class FileNotFoundException : public Error {
public:
    using Error::Error;
    ~FileNotFoundException() override;
};
