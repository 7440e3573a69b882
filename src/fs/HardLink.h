#pragma once

// The two steps that need hard links, apart because the page's file system has none (HardLinkInPage.cpp).

// Gives `from` the name `to`, replacing a file of that name in one step; false with errno set otherwise.
bool renameOver(const char* from, const char* to);

// Gives `from` the new name `to` unless `to` exists; false with errno set otherwise.
bool renameNew(const char* from, const char* to);

// Makes `to`, which must not exist, a name of the file `from` (in the page: a copy of it with its times);
// false with errno set otherwise.
bool hardLink(const char* from, const char* to);
