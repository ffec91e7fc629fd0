#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "base/port_name.h"
#include "session.h"

// Most users cannot open a serial port at first: the device node belongs to
// a group (typically "dialout") they are not in. The group is read from the
// node itself.
std::string OpenFailureAdvice(const std::string& port, const SystemError& error) {
    if (!IsAccessDenied(error)) return std::string();
    const std::string path = PortPath(port);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || st.st_gid == 0) return std::string();

    std::vector<char> buf(16384);
    struct group grp {};
    struct group* found = nullptr;
    if (::getgrgid_r(st.st_gid, &grp, buf.data(), buf.size(), &found) != 0 || !found) return std::string();
    const std::string group = found->gr_name;

    std::string user = "$USER";
    std::vector<char> pbuf(16384);
    struct passwd pw {};
    struct passwd* me = nullptr;
    if (::getpwuid_r(::geteuid(), &pw, pbuf.data(), pbuf.size(), &me) == 0 && me) user = me->pw_name;

    return path + " belongs to the group \"" + group +
           "\", and your user is not in it. Add it with\n    sudo usermod -aG " + group + " " + user +
           "\nthen log out and log in again: the new group counts from the next login.\n"
           "The tool's package (krx3-upload) also lets the person at this computer open the\n"
           "logger's adapter without the group: with the package installed, unplug the\n"
           "adapter and plug it in again.";
}
