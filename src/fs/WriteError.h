#pragma once

#include "fs/Error.h"

// An output file could not be written completely; the reason names the file and the system's
// error text.
class WriteError : public ErrorOfKind<WriteError> {
public:
    using ErrorOfKind::ErrorOfKind;
};
