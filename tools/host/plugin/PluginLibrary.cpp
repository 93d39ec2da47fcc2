#include "PluginLibrary.h"

#include <dlfcn.h>

namespace host {

PluginLibrary::~PluginLibrary() {
    if (handle_ != nullptr) dlclose(handle_);
}

bool PluginLibrary::load(const std::string& path, std::string& error) {
    path_ = path;
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* text = dlerror();
        error = text != nullptr ? text : path + ": cannot be loaded";
        return false;
    }
    // POSIX lets a function pointer travel through the void* of dlsym.
    createDev = reinterpret_cast<CreateDev>(dlsym(handle_, "createDev"));
    deleteDev = reinterpret_cast<DeleteDev>(dlsym(handle_, "deleteDev"));
    if (createDev == nullptr || deleteDev == nullptr) {
        error = path + " is no device plug-in: it does not export createDev and deleteDev";
        dlclose(handle_);
        handle_ = nullptr;
        return false;
    }
    return true;
}

std::string resolveLibrary(const std::string& library, const std::string& configFile, const std::string& builtIn) {
    if ((library == "quorlix" || library == "quorlix.so") && !builtIn.empty()) return builtIn;
    if (library.find('/') == std::string::npos || library[0] == '/') return library;
    std::string::size_type slash = configFile.rfind('/');
    if (slash == std::string::npos) return library;
    return configFile.substr(0, slash + 1) + library;
}

}  // namespace host
