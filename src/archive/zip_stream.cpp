// Reading an entry's data: copying stored bytes or inflating a raw deflate stream.
#include "zip_stream.h"

#include <algorithm>
#include <cstring>

namespace tessaly::zip {

EntryStream::~EntryStream() {
    if (m_inflating) inflateEnd(&m_zstream);
}

bool EntryStream::Open(const ArchiveFile* file, uint64_t dataStart, const CentralHeader& header) {
    if (header.method != kMethodStored && header.method != kMethodDeflated) return false;
    m_buffer = std::make_unique<uint8_t[]>(kBlockSize);
    if (header.method == kMethodDeflated) {
        m_zstream = z_stream{};
        // Negative window bits: a raw deflate stream without zlib header or trailer.
        if (inflateInit2(&m_zstream, -MAX_WBITS) != Z_OK) {
            m_buffer.reset();
            return false;
        }
        m_inflating = true;
    }
    m_file = file;
    m_method = header.method;
    m_nextIn = dataStart;
    m_remainingIn = header.compressedSize;
    m_remainingOut = header.uncompressedSize;
    return true;
}

bool EntryStream::FillInput() {
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(kBlockSize, m_remainingIn));
    if (!m_file->ReadAt(m_nextIn, m_buffer.get(), chunk)) return false;
    m_nextIn += chunk;
    m_remainingIn -= chunk;
    m_inPos = 0;
    m_inAvail = chunk;
    return true;
}

int EntryStream::Read(uint8_t* out, size_t length) {
    if (!m_buffer) return -1;
    if (m_ended) return 0;
    const size_t space =
        static_cast<size_t>(std::min<uint64_t>({length, m_remainingOut, kBlockSize}));
    size_t produced = 0;
    while (produced < space) {
        if (m_inAvail == 0 && m_remainingIn > 0 && !FillInput()) return -1;
        size_t made = 0;
        if (m_method == kMethodStored) {
            if (m_inAvail == 0) break;  // the stored data ends before its declared size
            made = std::min(space - produced, m_inAvail);
            std::memcpy(out + produced, m_buffer.get() + m_inPos, made);
            m_inPos += made;
            m_inAvail -= made;
        } else {
            m_zstream.next_in = m_buffer.get() + m_inPos;
            m_zstream.avail_in = static_cast<uInt>(m_inAvail);
            m_zstream.next_out = out + produced;
            m_zstream.avail_out = static_cast<uInt>(space - produced);
            const int status = inflate(&m_zstream, Z_NO_FLUSH);
            m_inPos += m_inAvail - m_zstream.avail_in;
            m_inAvail = m_zstream.avail_in;
            made = space - produced - m_zstream.avail_out;
            if (status == Z_STREAM_END) m_ended = true;
            // Z_BUF_ERROR: the compressed bytes ran out before the end of the stream.
            if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) return -1;
            if (status != Z_OK) {
                produced += made;
                m_remainingOut -= made;
                break;
            }
        }
        produced += made;
        m_remainingOut -= made;
    }
    return static_cast<int>(produced);
}

}  // namespace tessaly::zip
