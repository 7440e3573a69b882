#include "fs/Error.h"

Error::~Error() = default;
