// The floor of an update run: mat/ listed, and the status taken of every MAT file and of both images
// it may have, which is what any tool must do to find them current; nothing else. Run in a working
// directory like mat2png; prints how many MAT files it saw.

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

int main() {
    DIR* dir = ::opendir("mat");
    if (!dir) return 1;
    long files = 0, present = 0;
    struct stat st;
    while (const dirent* entry = ::readdir(dir)) {
        const std::size_t length = std::strlen(entry->d_name);
        if (length < 4 || ::strcasecmp(entry->d_name + length - 4, ".mat") != 0) continue;
        const std::string path = std::string("mat/") + entry->d_name;
        ++files;
        for (const char* suffix : {"", ".png", "_alpha.png"}) present += ::stat((path + suffix).c_str(), &st) == 0;
    }
    ::closedir(dir);
    std::printf("%ld files, %ld present\n", files, present);
    return 0;
}
