#pragma once

#include "fs/Error.h"

// What was asked is refused on purpose, nothing having failed: a name that leads out of its
// folder, a file that would be written over without --force, an image whose name says no MAT file.
// The reason says why, and what to do instead where there is a way.
class Refusal : public ErrorOfKind<Refusal> {
public:
    using ErrorOfKind::ErrorOfKind;
};
