#include "fs/FileNotFoundException.h"

FileNotFoundException::~FileNotFoundException() = default;
