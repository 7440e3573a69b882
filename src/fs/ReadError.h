#pragma once

#include "fs/Error.h"

// A file named to be read could not be: it is missing, not readable, not a regular file, or failed
// while read. The reason is the system's error text, or what the entry is instead of a file.
class ReadError : public ErrorOfKind<ReadError> {
public:
    using ErrorOfKind::ErrorOfKind;
};
