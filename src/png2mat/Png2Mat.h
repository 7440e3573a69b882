#pragma once

#include "driver/Program.h"

// png2mat: every mat/NAME.mat rebuilt from its edited mat/NAME.mat.png.
extern const Program png2mat;
