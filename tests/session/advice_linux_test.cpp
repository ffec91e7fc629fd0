// What the user is told when Linux refuses a serial port.
#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "session.h"

namespace {

TEST(OpenFailureAdvice, NamesTheNodesGroupAndTheCommandOnlyForPermissionDenied) {
    char path[] = "/tmp/krx3-ttyXXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    // The node's group: "dialout" where this user may give it away (root
    // may), else the user's own group.
    const group* dialout = ::getgrnam("dialout");
    gid_t gid = ::getegid();
    if (dialout && ::chown(path, static_cast<uid_t>(-1), dialout->gr_gid) == 0) gid = dialout->gr_gid;
    ASSERT_EQ(::chown(path, static_cast<uid_t>(-1), gid), 0);
    const group* g = ::getgrgid(gid);
    ASSERT_NE(g, nullptr);
    const std::string name = g->gr_name;

    const std::string advice = OpenFailureAdvice(path, std::strerror(EACCES));
    if (gid == 0) {
        EXPECT_EQ(advice, "") << "adding a user to root's group is no advice";
    } else {
        EXPECT_NE(advice.find("\"" + name + "\""), std::string::npos) << advice;
        EXPECT_NE(advice.find("sudo usermod -aG " + name + " "), std::string::npos) << advice;
        EXPECT_NE(advice.find("log in again"), std::string::npos) << advice;
    }
    EXPECT_EQ(OpenFailureAdvice(path, std::strerror(ENOENT)), "");
    EXPECT_EQ(OpenFailureAdvice(std::string(path) + "-gone", std::strerror(EACCES)), "");
    std::remove(path);
}

}  // namespace
