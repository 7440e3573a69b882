#pragma once

// An IffReader operation was called on the wrong kind of chunk (FORM or plain).
class IllegalOperation {
public:
    virtual ~IllegalOperation();
};
