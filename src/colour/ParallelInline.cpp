#include "colour/Parallel.h"

namespace colour {

struct Parallel::Workers {};

Parallel::Parallel() = default;
Parallel::Parallel(std::size_t) {}
Parallel::~Parallel() = default;

void Parallel::inParts(std::size_t count, const std::function<void(std::size_t, std::size_t)>& body, std::size_t) { body(0, count); }

void Parallel::each(std::size_t count, const std::function<void(std::size_t)>& body) {
    for (std::size_t n = 0; n < count; ++n) body(n);
}

}  // namespace colour
