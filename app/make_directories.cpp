#include "app/make_directories.h"

#include <sys/stat.h>

namespace tabulon {

bool MakeDirectories(const std::string& path) {
    if (path.empty() || path.front() != '/') return false;
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        mkdir(path.substr(0, slash).c_str(), 0755);
    mkdir(path.c_str(), 0755);
    return true;
}

}  // namespace tabulon
