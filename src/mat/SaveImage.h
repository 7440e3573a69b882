#pragma once

#include <ctime>
#include <string>

// Saves DevIL's bound image as a PNG file under `name`. The image is written
// to a temporary file in the same directory and renamed over `name` only when
// it is complete, so `name` never holds a partial image and a symbolic link
// there is replaced, not followed; its modification time is `modified`, that of
// its newest source. Raises WriteError when anything fails.
void saveImage(const std::string& name, const timespec& modified);
