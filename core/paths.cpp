#include "core/paths.hpp"

#include <cstdlib>

std::string RootPath(const char* absolute)
{
    const char* root = std::getenv("GW_ROOT");
    std::string path;
    if (root != nullptr && *root != '\0') {
        path = root;
        // "/tmp/x/" + "/var/run/" must not give a doubled separator.
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
    }
    path += absolute;
    return path;
}

std::string RootPath(const std::string& absolute)
{
    return RootPath(absolute.c_str());
}
