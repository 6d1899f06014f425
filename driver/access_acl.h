// The input's POSIX access ACL, carried over to its output.
//
// A directory with a default ACL gives every file created in it that ACL,
// masked by the mode of the creation: an output created there with its
// input's mode could grant a user named in the default ACL access that the
// input never gave.  So an output takes its input's access ACL, or none,
// before any data reaches it.  Raw extended attributes: the ACL is copied
// as the kernel stores it, never interpreted.
#pragma once

#include <sys/types.h>

namespace driver {

class access_acl {
  public:
    // Reads the access ACL of the input `fd`.
    void read_from(int fd) noexcept;
    // Gives the new, empty output `fd` the ACL read (never more than the mode
    // its creation gave it), or takes away the one it inherited.
    void give_to(int fd) const noexcept;

  private:
    // 8 bytes per entry: room for 127 entries, far more than people set.
    char value_[1024];
    ssize_t size_ = 0;
    // The input's ACL could not be read (too large, or a failing disk): the
    // output is then for its owner alone.
    bool unknown_ = false;
};

}  // namespace driver
