// The on-disk records of a ZIP archive that the reader understands, and their field layouts.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessaly::zip {

inline constexpr uint32_t kEndRecordSignature = 0x06054B50;      // 50 4B 05 06
inline constexpr uint32_t kCentralHeaderSignature = 0x02014B50;  // 50 4B 01 02
inline constexpr uint32_t kLocalHeaderSignature = 0x04034B50;    // 50 4B 03 04

inline constexpr size_t kEndRecordSize = 22;
inline constexpr size_t kCentralHeaderSize = 46;
inline constexpr size_t kLocalHeaderSize = 30;

inline constexpr uint16_t kMethodStored = 0;
inline constexpr uint16_t kMethodDeflated = 8;

inline constexpr uint16_t kFlagDataDescriptor = 1u << 3;
inline constexpr uint16_t kFlagUtf8Name = 1u << 11;

inline constexpr uint16_t kExtendedTimestampId = 0x5455;  // "UT"

// Name bytes kept for one entry: longer names are refused, never cut.
inline constexpr size_t kMaxNameBytes = 258;

inline uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

struct EndRecord {
    uint16_t diskNumber = 0;
    uint16_t centralDisk = 0;
    uint16_t entriesOnDisk = 0;
    uint16_t entriesTotal = 0;
    uint32_t centralSize = 0;
    uint32_t centralOffset = 0;
    uint16_t commentLength = 0;
};

struct CentralHeader {
    uint16_t versionMadeBy = 0;
    uint16_t versionNeeded = 0;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint32_t dosDateTime = 0;  // time in the low half, date in the high half
    uint32_t crc32 = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint16_t nameLength = 0;
    uint16_t extraLength = 0;
    uint16_t commentLength = 0;
    uint16_t diskStart = 0;
    uint16_t internalAttributes = 0;
    uint32_t externalAttributes = 0;
    uint32_t localHeaderOffset = 0;

    // Distance from this header to the next one.
    uint32_t RecordSize() const {
        return static_cast<uint32_t>(kCentralHeaderSize) + nameLength + extraLength + commentLength;
    }
};

struct LocalHeader {
    uint16_t versionNeeded = 0;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint32_t dosDateTime = 0;
    uint32_t crc32 = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint16_t nameLength = 0;
    uint16_t extraLength = 0;
};

// Each parser takes a buffer of the record's fixed size and returns false on a wrong signature.
bool ParseEndRecord(const uint8_t* bytes, EndRecord* out);
bool ParseCentralHeader(const uint8_t* bytes, CentralHeader* out);
bool ParseLocalHeader(const uint8_t* bytes, LocalHeader* out);

// True when the local header agrees with the central one in everything the reader relies on:
// a supported method equal on both sides, the name length, and the crc-32 and sizes unless the
// local header defers them to a data descriptor.
bool LocalAgreesWithCentral(const LocalHeader& local, const CentralHeader& central);

}  // namespace tessaly::zip
