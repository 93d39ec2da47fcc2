#include "ShmGroupCheck.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace host {

std::string shmGroupProblem(const std::string& group, gid_t* gid) {
    struct group entry {};
    struct group* found = nullptr;
    // A group of a directory service may have members beyond any fixed size.
    std::vector<char> buffer(16384);
    int result = 0;
    while ((result = getgrnam_r(group.c_str(), &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
           buffer.size() < (std::size_t{1} << 24))
        buffer.resize(buffer.size() * 4);
    if (result != 0 && result != ENOENT && result != ESRCH)
        return "the group \"" + group + "\" cannot be looked up: " + std::strerror(result);
    if (found == nullptr) return "there is no group \"" + group + "\"";
    const gid_t id = found->gr_gid;
    if (gid != nullptr) *gid = id;
    // Root may give its objects to any group.
    if (geteuid() == 0 || getegid() == id) return "";
    const int count = getgroups(0, nullptr);
    std::vector<gid_t> groups(count > 0 ? static_cast<std::size_t>(count) : 0);
    if (count > 0 && getgroups(count, groups.data()) == count)
        for (gid_t g : groups)
            if (g == id) return "";
    const passwd* user = getpwuid(geteuid());
    return "this host's user " + (user != nullptr ? std::string(user->pw_name) : std::to_string(geteuid())) +
           " is not a member of group \"" + group + "\"";
}

}  // namespace host
