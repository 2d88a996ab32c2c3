#pragma once

// Which plug-in binaries a hosting test really loaded: the LV2 host takes the first
// bundle with the plug-in's URI that it finds, so a test proves it runs this build.

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

namespace hostingtest
{
/**
    Every file mapped into this process under the given file name: the libraries
    that the loader really opened, wherever a format found them.
*/
inline std::set<std::filesystem::path> mappedFilesNamed (const std::filesystem::path& fileName)
{
    std::set<std::filesystem::path> found;
    std::ifstream maps ("/proc/self/maps");

    for (std::string line; std::getline (maps, line);)
    {
        const auto pathStart = line.find ('/');
        if (pathStart == std::string::npos)
            continue;

        const std::filesystem::path path (line.substr (pathStart));
        if (path.filename() == fileName)
            found.insert (path);
    }

    return found;
}

/** Whether the only file mapped under the built binary's name is the built binary itself. */
inline bool onlyThisLibraryLoaded (const std::filesystem::path& builtLibrary)
{
    const auto built = std::filesystem::canonical (builtLibrary);
    return mappedFilesNamed (built.filename()) == std::set<std::filesystem::path> { built };
}
} // namespace hostingtest
