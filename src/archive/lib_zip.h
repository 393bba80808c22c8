// CLibZip: reads ZIP archives from a disk file, reports each entry's information and extracts
// stored and deflated entries to files, and directory entries to folders.
//
// On this platform: paths are UTF-16 in the interface and UTF-8 on disk; '/' and '\' both
// separate folders; the base folder for relative paths is the current folder at Open, plus '/';
// names are UTF-8 when general purpose bit 11 is set, else code page 437; the read-only
// attribute becomes a file without write bits; the creation time is not set.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zip_file.h"
#include "zip_format.h"
#include "zip_metadata.h"

namespace tessaly {

// Result codes; 0 is success, callers treat every other value as failure.
inline constexpr int kZipOk = 0;
inline constexpr int kZipCannotCreateFile = 0x200;   // archive or destination cannot be opened
inline constexpr int kZipReadWriteFailed = 0x400;    // entry data unreadable, damaged or unwritten
inline constexpr int kZipCorruptEntry = 0x700;       // headers unreadable or in disagreement
inline constexpr int kZipBadLocalExtra = 0x800;      // local extra field cannot be read
inline constexpr int kZipIndexOutOfRange = 0x10000;
inline constexpr int kZipAlreadyOpen = 0x1000000;
inline constexpr int kZipNoEndRecord = -1;           // not an archive, or not a disk file
inline constexpr int kZipBadEndRecord = -103;        // multi-disk or inconsistent end record

inline constexpr int kZipNameUnits = 260;

struct ZipEntryInfo {
    int32_t index = 0;             // the entry's index; for index -1, the number of entries
    char16_t name[kZipNameUnits]{};  // as stored, zero after the terminator
    uint32_t attributes = 0;       // Windows attribute bits (zip::kAttr...)
    uint64_t lastAccessTime = 0;   // 100 ns ticks since 1601-01-01
    uint64_t creationTime = 0;
    uint64_t lastWriteTime = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
};

class CLibZip {
public:
    CLibZip();
    ~CLibZip();
    CLibZip(const CLibZip&) = delete;
    CLibZip& operator=(const CLibZip&) = delete;

    int Open(const std::u16string& path);
    // Index -1 gives the number of entries in `out->index`.
    int GetEntry(int index, ZipEntryInfo* out);
    // A file entry is written to `dest`, its folder created first when relative; a directory
    // entry creates its folder beneath the base folder and ignores `dest`. The data is checked
    // against its size and crc-32; on failure a partly written file stays.
    int ExtractEntry(int index, const std::u16string& dest);
    int Close();

private:
    // One entry as the reader keeps it: names stay bytes until handed out.
    struct Entry {
        zip::CentralHeader header;
        std::vector<uint8_t> name;
        uint32_t attributes = 0;
        zip::EntryTimes times;
    };

    bool ReadCentralHeader(uint64_t offset, zip::CentralHeader* out) const;
    void FirstEntry();
    bool NextEntry();
    bool ReachEntry(int index);
    // Checks the local header against the central one and finds the extra field and the data.
    bool CheckLocalHeader(const Entry& entry, uint64_t* extraStart, uint64_t* dataStart) const;
    int LoadEntry(Entry* out) const;
    int FetchEntry(int index);
    int ExtractFolder(const Entry& entry) const;
    int ExtractFile(const Entry& entry, const std::u16string& dest);

    zip::ArchiveFile m_file;
    bool m_bOpen = false;
    std::u16string m_baseFolder;
    bool m_bBaseKnown = false;

    uint16_t m_entryCount = 0;
    uint64_t m_bytesBefore = 0;  // data ahead of the archive, as in a self-extracting file
    uint32_t m_centralOffset = 0;

    int m_currentIndex = 0;
    uint64_t m_currentOffset = 0;
    bool m_bCurrentValid = false;
    zip::CentralHeader m_currentHeader;

    int m_cacheIndex = -1;
    Entry m_cache;
};

}  // namespace tessaly
