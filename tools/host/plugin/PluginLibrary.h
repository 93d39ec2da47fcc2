// plugin/: the device plug-ins as the host loads them: their libraries and the logger they copy.
#pragma once

#include <string>

class CBase;
class CLogH;
struct OptionList;

namespace host {

// A device plug-in loaded at run time, reached only through its two exports.
class PluginLibrary {
public:
    using CreateDev = CBase* (*)(OptionList*, CLogH*);
    using DeleteDev = bool (*)(CBase*);

    PluginLibrary() = default;
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    // dlopen of a path or a bare name the loader searches for. On failure
    // `error` carries the loader's own text.
    bool load(const std::string& path, std::string& error);

    const std::string& path() const { return path_; }
    CreateDev createDev = nullptr;
    DeleteDev deleteDev = nullptr;

private:
    void* handle_ = nullptr;
    std::string path_;
};

// The library a configuration's LIBRARY names: "quorlix" or "quorlix.so" is the
// plug-in of this build (`builtIn`); a relative path is taken from the
// configuration file's folder; anything else goes to the loader as it is.
std::string resolveLibrary(const std::string& library, const std::string& configFile, const std::string& builtIn);

}  // namespace host
