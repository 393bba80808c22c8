// The data of one entry as a stream of uncompressed bytes: stored data copied, deflated data
// inflated, both read from the archive in blocks of kBlockSize bytes.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "zip_file.h"
#include "zip_format.h"

namespace tessaly::zip {

inline constexpr size_t kBlockSize = 16384;

class EntryStream {
public:
    EntryStream() = default;
    ~EntryStream();
    EntryStream(const EntryStream&) = delete;
    EntryStream& operator=(const EntryStream&) = delete;

    // Starts reading at `dataStart`, a file position, with the sizes and method of `header`.
    // When this fails every read fails.
    bool Open(const ArchiveFile* file, uint64_t dataStart, const CentralHeader& header);

    // Produces up to `length` bytes (never more than the declared uncompressed size in total).
    // Returns the count, 0 once no more data comes, or -1 when the archive cannot be read or the
    // deflate data is damaged.
    int Read(uint8_t* out, size_t length);

    // True when the declared uncompressed size has been produced in full.
    bool Complete() const { return m_remainingOut == 0; }

private:
    bool FillInput();

    const ArchiveFile* m_file = nullptr;
    std::unique_ptr<uint8_t[]> m_buffer;
    size_t m_inPos = 0;
    size_t m_inAvail = 0;
    uint64_t m_nextIn = 0;
    uint64_t m_remainingIn = 0;
    uint64_t m_remainingOut = 0;
    uint16_t m_method = 0;
    z_stream m_zstream{};
    bool m_inflating = false;
    bool m_ended = false;
};

}  // namespace tessaly::zip
