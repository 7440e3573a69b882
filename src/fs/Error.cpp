#include "fs/Error.h"

#include <new>

std::string reasonOf(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::bad_alloc&) {
        return "out of memory";
    } catch (const std::exception& other) {
        return other.what();
    } catch (...) {
        return "the file is malformed";
    }
}
