// One pass of the archive reader over an archive, touching every operation.
#include "zip_exercise.h"

#include <sys/stat.h>

#include "lib_zip.h"

namespace tessaly::fuzzing {

void ExerciseArchive(const std::u16string& archivePath, const std::u16string& stagingFolder) {
    CLibZip zip;
    if (zip.Open(archivePath) != kZipOk) return;
    ZipEntryInfo info;
    zip.GetEntry(-1, &info);
    const int count = info.index;
    for (int i = 0; i < count; ++i) {
        if (zip.GetEntry(i, &info) != kZipOk) continue;
        zip.ExtractEntry(i, u"out.bin");
        zip.ExtractEntry(i, stagingFolder + u"/" + info.name);
        zip.ExtractEntry(i, info.name);
    }
    for (int i = count; i-- > 0;) zip.GetEntry(i, &info);
    zip.Close();
}

void RemoveTree(const std::filesystem::path& root) {
    std::error_code ec;
    // Files in a folder without write permission could not be removed.
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) chmod(it->path().c_str(), 0700);
    }
    std::filesystem::remove_all(root, ec);
}

}  // namespace tessaly::fuzzing
