// Drives the archive reader over one archive the way its users do, and harder: every entry asked
// for forwards and backwards, extracted to a fixed file and to a staging folder under its own
// name. Shared by the fuzz target and the test that replays the inputs it once failed on.
#pragma once

#include <filesystem>
#include <string>

namespace tessaly::fuzzing {

// Extraction goes to relative paths beneath the current folder and to `stagingFolder`, an
// absolute path to an existing folder. Nothing is checked here: sanitizers and callers judge.
void ExerciseArchive(const std::u16string& archivePath, const std::u16string& stagingFolder);

// Removes a scratch tree, with the read-only files and folders an archive may have left in it.
void RemoveTree(const std::filesystem::path& root);

}  // namespace tessaly::fuzzing
