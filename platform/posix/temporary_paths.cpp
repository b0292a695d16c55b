// Removing temporary paths with calls that are safe in a signal handler, and the handler itself.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <initializer_list>

#include "platform/common/temporary_paths_internal.h"

namespace platform {

namespace {

// Deeper than any temporary folder of the program gets; each level costs a buffer on the stack.
constexpr int kMaxDepth = 4;

bool IsDotName(const char* name) { return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)); }

void EmptyFolder(int folder, int depth);

// Symbolic links are removed as entries, never followed.
bool RemoveEntry(int folder, const char* name, unsigned char type, int depth) {
    if (type == DT_DIR && depth < kMaxDepth) {
        const int inner = openat(folder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (inner >= 0) {
            EmptyFolder(inner, depth + 1);
            close(inner);
        }
        return unlinkat(folder, name, AT_REMOVEDIR) == 0;
    }
    return unlinkat(folder, name, 0) == 0 || unlinkat(folder, name, AT_REMOVEDIR) == 0;
}

// Offers every entry of the folder to `remove`, which says whether it removed it. Reads entries with getdents64,
// which, unlike readdir, takes no lock and no heap. Entries removed while reading may shift the rest, so passes
// repeat until one removes nothing.
template <typename Remove>
void RemoveEntries(int folder, Remove remove) {
    alignas(dirent64) char buffer[2048];
    for (bool removed = true; removed;) {
        removed = false;
        if (lseek(folder, 0, SEEK_SET) != 0) return;
        for (ssize_t count; (count = getdents64(folder, buffer, sizeof buffer)) > 0;) {
            for (ssize_t at = 0; at < count;) {
                const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
                at += entry->d_reclen;
                if (remove(*entry)) removed = true;
            }
        }
    }
}

void EmptyFolder(int folder, int depth) {
    RemoveEntries(folder, [&](const dirent64& entry) {
        return !IsDotName(entry.d_name) && RemoveEntry(folder, entry.d_name, entry.d_type, depth);
    });
}

// The files of the folder whose names start as the path's last part does. The folder's path is copied out of
// `path` onto the stack: no heap in a signal handler (the string functions used are safe there).
void RemoveFilesNamedFrom(const char* path) {
    const char* slash = strrchr(path, '/');
    if (!slash || slash[1] == 0) return;
    const char* start = slash + 1;
    char folderPath[kMaxTemporaryPath];
    const auto length = static_cast<std::size_t>(start - path);
    memcpy(folderPath, path, length);
    folderPath[length] = 0;
    const int folder = open(folderPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return;
    RemoveEntries(folder, [&](const dirent64& entry) {
        return strncmp(entry.d_name, start, strlen(start)) == 0 && unlinkat(folder, entry.d_name, 0) == 0;
    });
    close(folder);
}

void OnTermination(int signalNumber) {
    RemoveRegisteredPaths();
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);  // delivered as the handler returns, with the default action
}

}  // namespace

void RemoveTemporary(const char* path, TemporaryPath::Kind kind) {
    if (kind == TemporaryPath::Kind::File) {
        unlink(path);
        return;
    }
    if (kind == TemporaryPath::Kind::FilesNamedFrom) {
        RemoveFilesNamedFrom(path);
        return;
    }
    const int opened = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (opened < 0) return;
    EmptyFolder(opened, 1);
    close(opened);
    rmdir(path);
}

void InstallTerminationHandler() {
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current = {};
        // A signal the caller chose to ignore (nohup) stays ignored.
        if (sigaction(signalNumber, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
        struct sigaction action = {};
        action.sa_handler = OnTermination;
        sigemptyset(&action.sa_mask);
        sigaction(signalNumber, &action, nullptr);
    }
}

}  // namespace platform
