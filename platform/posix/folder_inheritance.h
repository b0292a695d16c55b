#pragma once
// What a file created in a folder takes from the folder, for files that arrive there some other way.
#include <string>
#include <string_view>
#include <sys/types.h>

namespace platform {

struct FolderInheritance {
    gid_t group = 0;         // the folder's group when it has the setgid bit, else the creator's
    std::string defaultAcl;  // the folder's default ACL as its extended attribute holds it; empty when none
};

// False when the folder cannot be examined. The default ACL is asked for once per folder in the life of the
// process; the rest comes from one status call each time.
bool InheritanceOf(const std::string& folder, FolderInheritance& inheritance);

// The access ACL a file created with `mode` gets from a folder's default ACL: the owner, group class and other
// entries narrowed to the mode, as the system narrows them at creation.
std::string NarrowedAcl(std::string_view defaultAcl, mode_t mode);

}  // namespace platform
