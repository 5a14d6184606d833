#include "ptymaster.h"

#include <cerrno>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

int openPtyMaster(int flags, std::string *devicePath)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | flags);
    if (master < 0)
        return -1;
    char name[128];
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name, sizeof name) != 0) {
        const int error = errno;
        ::close(master);
        errno = error;
        return -1;
    }
    *devicePath = name;
    return master;
}
