#include "iff/IndexOutOfBoundsException.h"

IndexOutOfBoundsException::~IndexOutOfBoundsException() = default;
