// Plain POSIX output files shared by the page writers and the picture writer.
#pragma once

#include <cstddef>
#include <string>

namespace zenfo {

// Owns a file descriptor and closes it.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() { Close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.Release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;

    int Get() const { return fd_; }
    bool IsOpen() const { return fd_ >= 0; }
    int Release();
    // Closes the descriptor; returns false with errno set when close reports an error.
    bool Close();

  private:
    int fd_;
};

// Creates or truncates path for writing (mode 0666 before the umask). Never blocks on a FIFO.
// Returns a closed descriptor with errno set on failure.
FileDescriptor CreateForWriting(const std::string& path);

// Writes all of data, going on after interrupted or partial writes; returns false with errno set
// when the system refuses or a write makes no progress (ENOSPC for a full disk).
bool WriteAll(int fd, const void* data, std::size_t size);

}  // namespace zenfo
