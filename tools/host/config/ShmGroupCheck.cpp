#include "ShmGroupCheck.h"

#include <vector>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace host {

std::string shmGroupProblem(const std::string& group) {
    struct group entry {};
    struct group* found = nullptr;
    std::vector<char> buffer(16384);
    if (getgrnam_r(group.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
        return "there is no group \"" + group + "\"";
    const gid_t gid = found->gr_gid;
    // Root may give its objects to any group.
    if (geteuid() == 0 || getegid() == gid) return "";
    const int count = getgroups(0, nullptr);
    std::vector<gid_t> groups(count > 0 ? static_cast<std::size_t>(count) : 0);
    if (count > 0 && getgroups(count, groups.data()) == count)
        for (gid_t g : groups)
            if (g == gid) return "";
    const passwd* user = getpwuid(geteuid());
    return "this host's user " + (user != nullptr ? std::string(user->pw_name) : std::to_string(geteuid())) +
           " is not a member of group \"" + group + "\"";
}

}  // namespace host
