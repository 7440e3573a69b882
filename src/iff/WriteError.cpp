#include "iff/WriteError.h"

WriteError::~WriteError() = default;
