// Field-by-field decoding of the end record, the central directory header and the local header.
#include "zip_format.h"

namespace tessaly::zip {

bool ParseEndRecord(const uint8_t* b, EndRecord* out) {
    if (Le32(b) != kEndRecordSignature) return false;
    out->diskNumber = Le16(b + 4);
    out->centralDisk = Le16(b + 6);
    out->entriesOnDisk = Le16(b + 8);
    out->entriesTotal = Le16(b + 10);
    out->centralSize = Le32(b + 12);
    out->centralOffset = Le32(b + 16);
    out->commentLength = Le16(b + 20);
    return true;
}

bool ParseCentralHeader(const uint8_t* b, CentralHeader* out) {
    if (Le32(b) != kCentralHeaderSignature) return false;
    out->versionMadeBy = Le16(b + 4);
    out->versionNeeded = Le16(b + 6);
    out->flags = Le16(b + 8);
    out->method = Le16(b + 10);
    out->dosDateTime = Le32(b + 12);
    out->crc32 = Le32(b + 16);
    out->compressedSize = Le32(b + 20);
    out->uncompressedSize = Le32(b + 24);
    out->nameLength = Le16(b + 28);
    out->extraLength = Le16(b + 30);
    out->commentLength = Le16(b + 32);
    out->diskStart = Le16(b + 34);
    out->internalAttributes = Le16(b + 36);
    out->externalAttributes = Le32(b + 38);
    out->localHeaderOffset = Le32(b + 42);
    return true;
}

bool ParseLocalHeader(const uint8_t* b, LocalHeader* out) {
    if (Le32(b) != kLocalHeaderSignature) return false;
    out->versionNeeded = Le16(b + 4);
    out->flags = Le16(b + 6);
    out->method = Le16(b + 8);
    out->dosDateTime = Le32(b + 10);
    out->crc32 = Le32(b + 14);
    out->compressedSize = Le32(b + 18);
    out->uncompressedSize = Le32(b + 22);
    out->nameLength = Le16(b + 26);
    out->extraLength = Le16(b + 28);
    return true;
}

bool LocalAgreesWithCentral(const LocalHeader& local, const CentralHeader& central) {
    if (local.method != central.method) return false;
    if (local.method != kMethodStored && local.method != kMethodDeflated) return false;
    if (local.nameLength != central.nameLength) return false;
    if (local.flags & kFlagDataDescriptor) return true;
    return local.crc32 == central.crc32 && local.compressedSize == central.compressedSize &&
           local.uncompressedSize == central.uncompressedSize;
}

}  // namespace tessaly::zip
