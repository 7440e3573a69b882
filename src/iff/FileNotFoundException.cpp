#include "iff/FileNotFoundException.h"

FileNotFoundException::~FileNotFoundException() = default;
