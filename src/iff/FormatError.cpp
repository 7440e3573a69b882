#include "iff/FormatError.h"

FormatError::~FormatError() = default;
