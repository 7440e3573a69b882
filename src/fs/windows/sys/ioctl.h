#pragma once

// The console's width, as the progress line asks a terminal for it (PosixWindows.cpp).
struct winsize {
    unsigned short ws_row, ws_col, ws_xpixel, ws_ypixel;
};
#define TIOCGWINSZ 0x5413
int ioctl(int fd, unsigned long request, winsize* size);
