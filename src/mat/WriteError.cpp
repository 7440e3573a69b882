#include "mat/WriteError.h"

WriteError::~WriteError() = default;
