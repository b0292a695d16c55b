#include "platform/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <cstring>
#include <mutex>

#include "platform/common/mapped_file_internal.h"

namespace platform {

namespace {

std::string Failure(const std::string& doing, const std::string& path) {
    return "Cannot " + doing + " \"" + path + "\". " + std::strerror(errno);
}

// Where a fault on a cut-short mapped file returns to, on the thread whose work met it.
thread_local sigjmp_buf* faultReturn = nullptr;
struct sigaction earlierBusHandler {};

// A fault anywhere else is handled as it was before this handler came.
void OnBusError(int signal, siginfo_t* info, void* context) {
    if (faultReturn) siglongjmp(*faultReturn, 1);
    if (earlierBusHandler.sa_flags & SA_SIGINFO) {
        if (earlierBusHandler.sa_sigaction) return earlierBusHandler.sa_sigaction(signal, info, context);
    } else if (earlierBusHandler.sa_handler != SIG_DFL && earlierBusHandler.sa_handler != SIG_IGN) {
        return earlierBusHandler.sa_handler(signal);
    }
    std::signal(SIGBUS, SIG_DFL);
    std::raise(SIGBUS);
}

void HandleBusErrors() {
    static std::once_flag installed;
    std::call_once(installed, [] {
        struct sigaction action {};
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        sigaction(SIGBUS, &action, &earlierBusHandler);
    });
}

}  // namespace

bool RunOverMappedFiles(void (*work)(void* context), void* context) {
    HandleBusErrors();
    // Also when the work raises: no later fault may return here.
    struct Unguard {
        ~Unguard() { faultReturn = nullptr; }
    } unguard;
    sigjmp_buf here;
    if (sigsetjmp(here, 1) != 0) return false;
    faultReturn = &here;
    work(context);
    return true;
}

void MappedFile::Unmap() {
    if (data_) munmap(data_, size_);
    data_ = nullptr;
    size_ = 0;
}

bool MappedFile::MapForReading(const std::string& path, std::string& why) {
    Unmap();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        why = Failure("open", path);
        return false;
    }
    struct stat status {};
    bool mapped = false;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        why = S_ISREG(status.st_mode) ? Failure("read", path) : "\"" + path + "\" is not a file.";
    } else if (FitsAddressSpace(static_cast<std::uint64_t>(status.st_size), path, why)) {
        const auto size = static_cast<std::size_t>(status.st_size);
        void* data = size == 0 ? nullptr : mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
        if (data == MAP_FAILED) {
            why = Failure("map", path);
        } else {
            // Read front to back, once: the system may read ahead and drop what was read.
            if (data) madvise(data, size, MADV_SEQUENTIAL);
            data_ = data;
            size_ = size;
            mapped = true;
        }
    }
    close(fd);
    return mapped;
}

bool MappedFile::CreateForWriting(const std::string& path, std::uint64_t size, std::string& why) {
    Unmap();
    if (!FitsAddressSpace(size, path, why)) return false;
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        why = Failure("create", path);
        return false;
    }
    // The blocks are taken now: a disk that fills up is an error here, not a fault while the pages are written.
    int reserved = size == 0 ? 0 : posix_fallocate(fd, 0, static_cast<off_t>(size));
    if (reserved == EOPNOTSUPP || reserved == EINVAL) reserved = ftruncate(fd, static_cast<off_t>(size)) == 0 ? 0 : errno;
    bool mapped = false;
    if (reserved != 0) {
        errno = reserved;
        why = Failure("make room for", path);
    } else {
        void* data = size == 0 ? nullptr
                               : mmap(nullptr, static_cast<std::size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (data == MAP_FAILED) {
            why = Failure("map", path);
        } else {
            data_ = data;
            size_ = static_cast<std::size_t>(size);
            mapped = true;
        }
    }
    close(fd);
    return mapped;
}

}  // namespace platform
