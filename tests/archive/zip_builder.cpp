// Lays out local headers, data, data descriptors, the central directory and the end record.
#include "zip_builder.h"

#include <zlib.h>

#include <stdexcept>

namespace tessaly::test {

std::string Le16(uint16_t v) {
    return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

std::string Le32(uint32_t v) {
    return Le16(static_cast<uint16_t>(v & 0xFFFF)) + Le16(static_cast<uint16_t>(v >> 16));
}

uint32_t Crc32(const std::string& data) {
    return static_cast<uint32_t>(
        crc32(0L, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

std::string RawDeflate(const std::string& data, int level) {
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("deflateInit2");
    }
    std::string out(deflateBound(&z, static_cast<uLong>(data.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int status = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (status != Z_STREAM_END) throw std::runtime_error("deflate");
    return out;
}

ZipMember Stored(std::string name, std::string data) {
    ZipMember m;
    m.name = std::move(name);
    m.data = std::move(data);
    return m;
}

ZipMember Deflated(std::string name, std::string data) {
    ZipMember m = Stored(std::move(name), std::move(data));
    m.method = 8;
    return m;
}

std::string UtBlock(uint8_t flags, const std::vector<uint32_t>& times) {
    std::string data(1, static_cast<char>(flags));
    for (const uint32_t t : times) data += Le32(t);
    return Le16(0x5455) + Le16(static_cast<uint16_t>(data.size())) + data;
}

std::string PatternBytes(size_t size, uint32_t salt) {
    std::string out(size, '\0');
    uint32_t state = 2463534242u ^ salt;
    for (size_t i = 0; i < size; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        // Mostly a small alphabet, so that deflate has something to do.
        out[i] = static_cast<char>((state & 7) == 0 ? state >> 8 : 'a' + (state >> 8) % 6);
    }
    return out;
}

std::string ZipArchive::Build() const {
    std::string body;
    std::string central;
    for (const ZipMember& m : members) {
        const uint32_t offset = static_cast<uint32_t>(body.size());
        const std::string payload =
            m.payload ? *m.payload : (m.method == 8 ? RawDeflate(m.data) : m.data);
        const uint32_t crc = Crc32(m.data);
        const auto compressed = static_cast<uint32_t>(payload.size());
        const auto uncompressed = static_cast<uint32_t>(m.data.size());
        const uint16_t flags = static_cast<uint16_t>(m.flags | (m.dataDescriptor ? 8 : 0));
        const std::string localName = m.localName ? *m.localName : m.name;

        body += Le32(m.localSignature.value_or(0x04034B50));
        body += Le16(20) + Le16(flags) + Le16(m.localMethod.value_or(m.method));
        body += Le32(m.dosDateTime);
        if (m.dataDescriptor) {
            body += Le32(m.localCrc.value_or(0)) + Le32(m.localCompressedSize.value_or(0)) + Le32(0);
        } else {
            body += Le32(m.localCrc.value_or(crc)) +
                    Le32(m.localCompressedSize.value_or(compressed)) + Le32(uncompressed);
        }
        body += Le16(static_cast<uint16_t>(localName.size()));
        body += Le16(m.localExtraLength.value_or(static_cast<uint16_t>(m.localExtra.size())));
        body += localName + m.localExtra + payload;
        if (m.dataDescriptor) body += Le32(0x08074B50) + Le32(crc) + Le32(compressed) + Le32(uncompressed);

        central += Le32(m.centralSignature.value_or(0x02014B50));
        central += Le16(0x031E) + Le16(20) + Le16(flags) + Le16(m.method);
        central += Le32(m.dosDateTime);
        central += Le32(m.centralCrc.value_or(crc));
        central += Le32(m.centralCompressedSize.value_or(compressed));
        central += Le32(m.centralUncompressedSize.value_or(uncompressed));
        central += Le16(static_cast<uint16_t>(m.name.size()));
        central += Le16(static_cast<uint16_t>(m.centralExtra.size()));
        central += Le16(static_cast<uint16_t>(m.comment.size()));
        central += Le16(0) + Le16(0) + Le32(m.external) + Le32(offset);
        central += m.name + m.centralExtra + m.comment;
    }
    const auto count = static_cast<uint16_t>(members.size());
    std::string endRecord = Le32(0x06054B50);
    endRecord += Le16(end.diskNumber.value_or(0)) + Le16(end.centralDisk.value_or(0));
    endRecord += Le16(end.entriesOnDisk.value_or(count)) + Le16(end.entriesTotal.value_or(count));
    endRecord += Le32(static_cast<uint32_t>(central.size()));
    endRecord += Le32(end.centralOffset.value_or(static_cast<uint32_t>(body.size())));
    endRecord += Le16(static_cast<uint16_t>(end.comment.size())) + end.comment;
    return prefix + body + central + endRecord;
}

}  // namespace tessaly::test
