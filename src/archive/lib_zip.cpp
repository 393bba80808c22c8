// The archive reader: end record search, central directory walk, entry information, extraction.
#include "lib_zip.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "zip_paths.h"
#include "zip_stream.h"

namespace tessaly {
namespace {

// The end record must start within this many bytes of the end of the file.
constexpr uint64_t kEndSearchWindow = 65535;
constexpr uint64_t kEndSearchStep = 1024;
// Consecutive blocks overlap by 4 bytes, so a signature across a block edge is still found whole.
constexpr uint64_t kEndSearchBlock = kEndSearchStep + 4;

// Finds the position of the end record signature nearest the end of the file, scanning
// overlapping blocks backwards. A hit at offset 0 does not count.
bool FindEndRecord(const zip::ArchiveFile& file, uint64_t* position) {
    const uint64_t size = file.Size();
    const uint64_t window = std::min(size, kEndSearchWindow);
    std::array<uint8_t, kEndSearchBlock> block{};
    uint64_t back = 4;
    while (back < window) {
        back = std::min(back + kEndSearchStep, window);
        const uint64_t start = size - back;
        const size_t length = static_cast<size_t>(std::min(kEndSearchBlock, back));
        if (!file.ReadAt(start, block.data(), length)) return false;
        for (size_t i = length - 4 + 1; i-- > 0;) {
            if (zip::Le32(block.data() + i) != zip::kEndRecordSignature) continue;
            if (start + i == 0) return false;
            *position = start + i;
            return true;
        }
    }
    return false;
}

void CopyName(const std::u16string& name, ZipEntryInfo* out) {
    std::fill(std::begin(out->name), std::end(out->name), u'\0');
    std::copy_n(name.begin(), std::min<size_t>(name.size(), kZipNameUnits - 1), out->name);
}

std::u16string EntryName(const zip::CentralHeader& header, const std::vector<uint8_t>& bytes) {
    return zip::NameToUtf16(bytes.data(), bytes.size(), (header.flags & zip::kFlagUtf8Name) != 0);
}

bool WriteAll(int fd, const uint8_t* data, size_t length) {
    while (length > 0) {
        const ssize_t n = write(fd, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// Sets last access and last write time; the creation time cannot be set here and is skipped.
void SetFileTimes(int fd, const zip::EntryTimes& times) {
    timespec both[2];
    if (!zip::TimespecFromTicks(times.lastAccess, &both[0])) both[0] = timespec{0, UTIME_OMIT};
    if (!zip::TimespecFromTicks(times.lastWrite, &both[1])) both[1] = timespec{0, UTIME_OMIT};
    futimens(fd, both);
}

}  // namespace

CLibZip::CLibZip() = default;
CLibZip::~CLibZip() = default;

int CLibZip::Open(const std::u16string& path) {
    if (m_bOpen) return kZipAlreadyOpen;

    std::array<char, 4096> cwd{};
    m_baseFolder.clear();
    m_bBaseKnown = getcwd(cwd.data(), cwd.size()) != nullptr &&
                   zip::Utf8ToUtf16(reinterpret_cast<const uint8_t*>(cwd.data()),
                                    std::strlen(cwd.data()), &m_baseFolder);
    if (m_bBaseKnown) m_baseFolder.push_back(u'/');

    std::string nativePath;
    if (!zip::ToFileSystemPath(path, &nativePath)) return kZipCannotCreateFile;
    switch (m_file.Open(nativePath)) {
        case zip::ArchiveFile::OpenResult::kOk: break;
        case zip::ArchiveFile::OpenResult::kCannotOpen: return kZipCannotCreateFile;
        case zip::ArchiveFile::OpenResult::kNotDiskFile: return kZipNoEndRecord;
    }

    uint64_t endPos = 0;
    std::array<uint8_t, zip::kEndRecordSize> raw{};
    zip::EndRecord end;
    if (!FindEndRecord(m_file, &endPos) || !m_file.ReadAt(endPos, raw.data(), raw.size()) ||
        !zip::ParseEndRecord(raw.data(), &end)) {
        m_file.Close();
        return kZipNoEndRecord;
    }
    const uint64_t directoryEnd = uint64_t{end.centralOffset} + end.centralSize;
    if (end.entriesOnDisk != end.entriesTotal || end.diskNumber != 0 || end.centralDisk != 0 ||
        endPos < directoryEnd) {
        m_file.Close();
        return kZipBadEndRecord;
    }

    m_entryCount = end.entriesTotal;
    m_centralOffset = end.centralOffset;
    m_bytesBefore = endPos - directoryEnd;
    m_bOpen = true;
    FirstEntry();
    return kZipOk;
}

bool CLibZip::ReadCentralHeader(uint64_t offset, zip::CentralHeader* out) const {
    std::array<uint8_t, zip::kCentralHeaderSize> raw{};
    return m_file.ReadAt(offset + m_bytesBefore, raw.data(), raw.size()) &&
           zip::ParseCentralHeader(raw.data(), out);
}

void CLibZip::FirstEntry() {
    m_currentIndex = 0;
    m_currentOffset = m_centralOffset;
    m_bCurrentValid = ReadCentralHeader(m_currentOffset, &m_currentHeader);
}

bool CLibZip::NextEntry() {
    if (!m_bCurrentValid || m_currentIndex + 1 >= m_entryCount) return false;
    m_currentOffset += m_currentHeader.RecordSize();
    ++m_currentIndex;
    m_bCurrentValid = ReadCentralHeader(m_currentOffset, &m_currentHeader);
    return true;
}

bool CLibZip::ReachEntry(int index) {
    if (index < m_currentIndex) FirstEntry();
    while (m_currentIndex < index) {
        if (!NextEntry()) return false;
    }
    return m_bCurrentValid;
}

bool CLibZip::CheckLocalHeader(const Entry& entry, uint64_t* extraStart,
                               uint64_t* dataStart) const {
    const uint64_t start = uint64_t{entry.header.localHeaderOffset} + m_bytesBefore;
    std::array<uint8_t, zip::kLocalHeaderSize + zip::kMaxNameBytes> raw{};
    zip::LocalHeader local;
    if (!m_file.ReadAt(start, raw.data(), zip::kLocalHeaderSize) ||
        !zip::ParseLocalHeader(raw.data(), &local) ||
        !zip::LocalAgreesWithCentral(local, entry.header)) {
        return false;
    }
    // The central directory and the local header must name the same file.
    uint8_t* const localName = raw.data() + zip::kLocalHeaderSize;
    if (!m_file.ReadAt(start + zip::kLocalHeaderSize, localName, entry.name.size()) ||
        !std::equal(entry.name.begin(), entry.name.end(), localName)) {
        return false;
    }
    *extraStart = start + zip::kLocalHeaderSize + local.nameLength;
    *dataStart = *extraStart + local.extraLength;
    return true;
}

int CLibZip::LoadEntry(Entry* out) const {
    out->header = m_currentHeader;
    const zip::CentralHeader& header = out->header;
    // Longer names are refused rather than cut into a different name.
    if (header.nameLength > zip::kMaxNameBytes) return kZipCorruptEntry;
    out->name.resize(header.nameLength);
    const uint64_t nameStart = m_currentOffset + m_bytesBefore + zip::kCentralHeaderSize;
    if (!m_file.ReadAt(nameStart, out->name.data(), out->name.size())) return kZipCorruptEntry;

    uint64_t extraStart = 0;
    uint64_t dataStart = 0;
    if (!CheckLocalHeader(*out, &extraStart, &dataStart)) return kZipCorruptEntry;
    const auto extraLength = static_cast<uint32_t>(dataStart - extraStart);
    std::vector<uint8_t> extra(extraLength);
    if (!m_file.ReadAt(extraStart, extra.data(), extra.size())) return kZipBadLocalExtra;

    out->attributes = zip::AttributesFromExternal(header.externalAttributes);
    // Some tools (jar among them) mark folders only by the trailing slash of their name.
    if (!out->name.empty() && out->name.back() == '/') out->attributes |= zip::kAttrDirectory;
    out->times = zip::TimesFromHeaders(header.dosDateTime, extra.data(), extraLength);
    return kZipOk;
}

// Makes `index` the cached entry, reading it unless it already is.
int CLibZip::FetchEntry(int index) {
    if (index == m_cacheIndex) return kZipOk;
    if (!ReachEntry(index)) return kZipCorruptEntry;
    Entry entry;
    const int result = LoadEntry(&entry);
    if (result != kZipOk) return result;
    m_cache = std::move(entry);
    m_cacheIndex = index;
    return kZipOk;
}

int CLibZip::GetEntry(int index, ZipEntryInfo* out) {
    if (!m_bOpen || index < -1 || index >= m_entryCount) return kZipIndexOutOfRange;
    if (index == -1) {
        *out = ZipEntryInfo{};
        out->index = m_entryCount;
        return kZipOk;
    }
    const int result = FetchEntry(index);
    if (result != kZipOk) return result;
    *out = ZipEntryInfo{};
    out->index = index;
    CopyName(EntryName(m_cache.header, m_cache.name), out);
    out->attributes = m_cache.attributes;
    out->creationTime = m_cache.times.creation;
    out->lastAccessTime = m_cache.times.lastAccess;
    out->lastWriteTime = m_cache.times.lastWrite;
    out->compressedSize = m_cache.header.compressedSize;
    out->uncompressedSize = m_cache.header.uncompressedSize;
    return kZipOk;
}

int CLibZip::ExtractEntry(int index, const std::u16string& dest) {
    if (!m_bOpen || index < 0 || index >= m_entryCount) return kZipIndexOutOfRange;
    const int result = FetchEntry(index);
    if (result != kZipOk) return result;
    const Entry& entry = m_cache;
    if (entry.attributes & zip::kAttrDirectory) return ExtractFolder(entry);
    return ExtractFile(entry, dest);
}

int CLibZip::ExtractFolder(const Entry& entry) const {
    const std::u16string name = EntryName(entry.header, entry.name);
    if (!m_bBaseKnown || !zip::EnsureFolder(m_baseFolder, name)) return kZipCannotCreateFile;
    return kZipOk;
}

int CLibZip::ExtractFile(const Entry& entry, const std::u16string& dest) {
    // Where the file goes: an absolute destination as it is, with no folders created; a relative
    // one beneath the base folder, its folders created first. A ".." component or a drive letter
    // could lead anywhere, so they are refused.
    const size_t lastSeparator = dest.find_last_of(u"/\\");
    const std::u16string folder =
        lastSeparator == std::u16string::npos ? std::u16string() : dest.substr(0, lastSeparator);
    if (dest.empty() || dest.size() >= zip::kMaxPathUnits || zip::HasDriveLetter(dest) ||
        zip::HasDotDotComponent(folder)) {
        return kZipCannotCreateFile;
    }
    std::u16string full = dest;
    if (!zip::IsAbsolute(dest)) {
        if (!m_bBaseKnown || m_baseFolder.size() + dest.size() >= zip::kMaxPathUnits) {
            return kZipCannotCreateFile;
        }
        if (!folder.empty() && !zip::EnsureFolder(m_baseFolder, folder)) return kZipCannotCreateFile;
        full = m_baseFolder + dest;
    }
    std::string nativePath;
    if (!zip::ToFileSystemPath(full, &nativePath)) return kZipCannotCreateFile;

    // A link at the destination is not followed, and a file without write permission is not
    // replaced, whoever runs this.
    const int fd = open(nativePath.c_str(),
                        O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0600);
    if (fd < 0) return kZipCannotCreateFile;
    struct stat st {};
    const bool diskFile = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (diskFile && ((st.st_mode & 0222) == 0 || ftruncate(fd, 0) != 0)) {
        close(fd);
        return kZipCannotCreateFile;
    }
    fcntl(fd, F_SETFL, 0);
    if (diskFile) fchmod(fd, entry.attributes & zip::kAttrReadOnly ? 0444 : 0644);

    uint64_t dataStart = 0;
    uint64_t extraStart = 0;
    zip::EntryStream stream;
    if (CheckLocalHeader(entry, &extraStart, &dataStart)) {
        stream.Open(&m_file, dataStart, entry.header);
    }
    auto chunk = std::make_unique<uint8_t[]>(zip::kBlockSize);
    uLong crc = crc32(0L, Z_NULL, 0);
    bool failed = false;
    for (;;) {
        const int n = stream.Read(chunk.get(), zip::kBlockSize);
        if (n < 0 || (n > 0 && !WriteAll(fd, chunk.get(), static_cast<size_t>(n)))) {
            failed = true;
            break;
        }
        if (n == 0) break;
        crc = crc32(crc, chunk.get(), static_cast<uInt>(n));
    }
    // Data that ends early or does not match its crc-32 is damaged, however it was read.
    if (!failed && (!stream.Complete() || crc != entry.header.crc32)) failed = true;
    if (!failed && diskFile) SetFileTimes(fd, entry.times);
    close(fd);
    return failed ? kZipReadWriteFailed : kZipOk;
}

int CLibZip::Close() {
    m_file.Close();
    m_bOpen = false;
    m_cacheIndex = -1;
    m_cache = Entry{};
    return kZipOk;
}

}  // namespace tessaly
