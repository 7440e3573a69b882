#pragma once

#include "driver/Program.h"

// mat2png: every *.mat file in mat/ to PNG images beside it.
extern const Program mat2png;
