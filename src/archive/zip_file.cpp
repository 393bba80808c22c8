// Opening and positional reading of the archive file.
#include "zip_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tessaly::zip {

ArchiveFile::~ArchiveFile() {
    Close();
}

ArchiveFile::OpenResult ArchiveFile::Open(const std::string& path) {
    Close();
    // Non-blocking, so that opening a pipe without a writer cannot hang.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return OpenResult::kCannotOpen;
    struct stat st {};
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) || flock(fd, LOCK_SH | LOCK_NB) != 0) {
        close(fd);
        return OpenResult::kCannotOpen;
    }
    if (!S_ISREG(st.st_mode)) {
        close(fd);
        return OpenResult::kNotDiskFile;
    }
    m_fd = fd;
    m_size = static_cast<uint64_t>(st.st_size);
    return OpenResult::kOk;
}

void ArchiveFile::Close() {
    if (m_fd >= 0) close(m_fd);
    m_fd = -1;
    m_size = 0;
}

bool ArchiveFile::ReadAt(uint64_t position, void* buffer, size_t length) const {
    if (m_fd < 0) return false;
    auto* out = static_cast<char*>(buffer);
    while (length > 0) {
        if (position > static_cast<uint64_t>(INT64_MAX)) return false;
        const ssize_t n = pread(m_fd, out, length, static_cast<off_t>(position));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        out += n;
        position += static_cast<uint64_t>(n);
        length -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace tessaly::zip
