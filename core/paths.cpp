#include "core/paths.hpp"

#include <unistd.h>

#include <climits>
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

void AbsoluteRoot()
{
    const char* root = std::getenv("GW_ROOT");
    if (root == nullptr || *root == '\0' || *root == '/')
        return;
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd) == nullptr)
        return;
    std::string absolute = cwd;
    absolute += '/';
    absolute += root;
    ::setenv("GW_ROOT", absolute.c_str(), 1);
}
