// One pass of the archive reader over an archive, touching every operation.
#include "zip_exercise.h"

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

}  // namespace tessaly::fuzzing
