#pragma once

// The file's content is not a well-formed MAT or palette file: a failed check,
// a truncated or forged size, or a read past the end of the file.
class FormatError {
public:
    explicit FormatError(const char* reason) : reason(reason) {}
    virtual ~FormatError();
    const char* what() const { return reason; }

private:
    const char* reason;
};
