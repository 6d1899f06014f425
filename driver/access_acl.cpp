#include "access_acl.h"

#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>

namespace driver {
namespace {

constexpr const char* ACCESS_ACL = "system.posix_acl_access";

// No ACL at all, or a file system without them.
bool none(int error) { return error == ENODATA || error == ENOTSUP; }

}  // namespace

void access_acl::read_from(int fd) noexcept {
    size_ = fgetxattr(fd, ACCESS_ACL, value_, sizeof value_);
    unknown_ = size_ < 0 && !none(errno);
    if (size_ < 0) size_ = 0;
}

void access_acl::give_to(int fd) const noexcept {
    struct stat created;
    if (fstat(fd, &created) != 0) return;
    const mode_t mode = created.st_mode & 07777;
    if (size_ > 0 && fsetxattr(fd, ACCESS_ACL, value_, static_cast<size_t>(size_), 0) == 0) {
        // Setting the ACL sets the mode from it; the mode of the creation
        // (the umask, a default ACL) limits it again, the mask included.
        fchmod(fd, mode);
        return;
    }
    // An inherited ACL that could not be removed may still grant access.
    const bool acl_may_stay = fremovexattr(fd, ACCESS_ACL) != 0 && !none(errno);
    if (unknown_ || acl_may_stay) {
        fchmod(fd, mode & S_IRWXU);
    } else if (size_ > 0) {
        // The input's ACL could not be set here: its group bits were the
        // mask of its named entries, and would now go to the group alone.
        fchmod(fd, mode & static_cast<mode_t>(~S_IRWXG));
    }
}

}  // namespace driver
