#pragma once

#include <windows.h>

#include <string>

// Windows only: a name in UTF-8, as the programs hold it, in the UTF-16 of the wide API.
std::wstring widePath(const char* path);

// The errno value that tells what the Windows error `code` tells, for the programs' reasons.
int errnoOf(DWORD code);

// A FILETIME and a POSIX time, both ways.
FILETIME fileTimeOf(const timespec& time);
timespec timespecOf(const FILETIME& time);
