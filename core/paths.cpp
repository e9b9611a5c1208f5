#include "core/paths.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

bool MakeFolders(const std::string& path)
{
    for (std::size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
        const std::string folder = path.substr(0, at);
        if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
        if (at == std::string::npos)
            break;
    }
    // EEXIST also stands for a file of that name.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return false;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}
