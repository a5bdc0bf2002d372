#include "album/output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace zenfo {

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.Release();
    }
    return *this;
}

int FileDescriptor::Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
}

bool FileDescriptor::Close() {
    if (fd_ < 0) return true;
    int result = ::close(fd_);
    fd_ = -1;
    return result == 0;
}

FileDescriptor CreateForWriting(const std::string& path) {
    // O_NONBLOCK makes opening a FIFO without a reader fail (ENXIO) instead of waiting forever.
    FileDescriptor fd(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666));
    if (fd.IsOpen()) {
        int flags = ::fcntl(fd.Get(), F_GETFL);
        if (flags >= 0) ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK);
    }
    return fd;
}

bool WriteAll(int fd, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace zenfo
