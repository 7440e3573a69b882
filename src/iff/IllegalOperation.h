#pragma once

#include "fs/Error.h"

// An IffReader operation was called on the wrong kind of chunk (FORM or plain).
class IllegalOperation : public Error {
public:
    IllegalOperation() : Error("the file is malformed") {}
    ~IllegalOperation() override;
};
