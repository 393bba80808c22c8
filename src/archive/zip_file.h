// The archive file as the reader holds it: opened for reading with writers shut out, read at
// absolute positions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tessaly::zip {

class ArchiveFile {
public:
    enum class OpenResult { kOk, kCannotOpen, kNotDiskFile };

    ArchiveFile() = default;
    ~ArchiveFile();
    ArchiveFile(const ArchiveFile&) = delete;
    ArchiveFile& operator=(const ArchiveFile&) = delete;

    // Opens an existing file. A folder cannot be opened; a pipe or device opens but is not a disk
    // file, and is closed again. Writers that honour advisory locks are shut out while it is open.
    OpenResult Open(const std::string& path);
    void Close();

    uint64_t Size() const { return m_size; }

    // Reads exactly `length` bytes at `position`; false on a short read or a closed file.
    bool ReadAt(uint64_t position, void* buffer, size_t length) const;

private:
    int m_fd = -1;
    uint64_t m_size = 0;
};

}  // namespace tessaly::zip
