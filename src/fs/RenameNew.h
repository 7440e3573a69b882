#pragma once

// Gives `from` the new name `to` unless `to` exists; false with errno set otherwise.
bool renameNew(const char* from, const char* to);
