#pragma once

#include "fs/Error.h"

// The file's content is not a well-formed MAT, palette or image file: a failed check, a truncated or
// forged size, or a read past the end of the file. The reason names what was expected and what was
// found.
class FormatError : public ErrorOfKind<FormatError> {
public:
    using ErrorOfKind::ErrorOfKind;
};
