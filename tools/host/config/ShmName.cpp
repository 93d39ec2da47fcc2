#include "ShmName.h"

namespace host {

std::string shmObjectName(const std::string& name) {
    std::string object = name.empty() || name[0] != '/' ? "/" + name : name;
    if (object.size() < 2 || object.size() > 250 || object.find('/', 1) != std::string::npos) return "";
    return object;
}

}  // namespace host
