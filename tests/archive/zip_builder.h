// Builds ZIP archives byte by byte for the reader's tests, including the damaged and unusual
// layouts that real tools never write.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tessaly::test {

inline constexpr uint32_t kUnixMode0644 = 0x81A40000;
inline constexpr uint32_t kDosDateTime = 0x5A2C6E1D;  // 2025-01-12 13:48:58

struct ZipMember {
    std::string name;
    std::string data;                // the uncompressed bytes
    uint16_t method = 0;             // 8 deflates `data`; any other value stores it as is
    uint16_t flags = 0;
    bool dataDescriptor = false;     // bit 3, zero crc-32 and sizes locally, descriptor after data
    uint32_t external = kUnixMode0644;
    uint32_t dosDateTime = kDosDateTime;
    std::string localExtra;
    std::string centralExtra;
    std::string comment;

    // Damage: each replaces what the builder would otherwise write.
    std::optional<std::string> payload;  // the bytes between local header and next record
    std::optional<uint32_t> centralCrc;
    std::optional<uint32_t> centralCompressedSize;
    std::optional<uint32_t> centralUncompressedSize;
    std::optional<uint32_t> localCrc;
    std::optional<uint32_t> localCompressedSize;
    std::optional<uint16_t> localMethod;
    std::optional<std::string> localName;
    std::optional<uint32_t> localSignature;
    std::optional<uint32_t> centralSignature;
    std::optional<uint16_t> localExtraLength;  // announced length, whatever follows
};

ZipMember Stored(std::string name, std::string data);
ZipMember Deflated(std::string name, std::string data);

struct ZipEndRecord {
    std::optional<uint16_t> diskNumber;
    std::optional<uint16_t> centralDisk;
    std::optional<uint16_t> entriesOnDisk;
    std::optional<uint16_t> entriesTotal;
    std::optional<uint32_t> centralOffset;
    std::string comment;
};

struct ZipArchive {
    std::string prefix;  // bytes ahead of the archive
    std::vector<ZipMember> members;
    ZipEndRecord end;

    std::string Build() const;
};

std::string RawDeflate(const std::string& data, int level = 6);
uint32_t Crc32(const std::string& data);

// An extended timestamp block ("UT") with the given flags and times, exactly as listed.
std::string UtBlock(uint8_t flags, const std::vector<uint32_t>& times);
std::string Le16(uint16_t v);
std::string Le32(uint32_t v);

// Deterministic bytes that deflate shrinks, for tests that need some content.
std::string PatternBytes(size_t size, uint32_t salt = 1);

}  // namespace tessaly::test
