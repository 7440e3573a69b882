#include "fs/WriteError.h"

WriteError::~WriteError() = default;
