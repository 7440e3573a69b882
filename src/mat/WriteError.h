#pragma once

// An output image could not be written completely.
class WriteError {
public:
    explicit WriteError(const char* reason) : reason(reason) {}
    virtual ~WriteError();
    const char* what() const { return reason; }

private:
    const char* reason;
};
