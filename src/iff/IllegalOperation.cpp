#include "iff/IllegalOperation.h"

IllegalOperation::~IllegalOperation() = default;
