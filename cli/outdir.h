#pragma once

#include <string>

namespace velo::cli
{

// How letters of a name are compared.
enum class LetterCase { Exact, Ignored };

// Whether a name is one this program gives its files: "DD", three or more digits, ".JPG"
// (in capitals, or in any case when letter case is ignored).
bool isCarvedFileName(const std::string& name, LetterCase letterCase = LetterCase::Exact);

// Whether the folder holds a file that a run into it would replace or fail to create: one
// named as this program names its files, or named so in other letter case where the
// folder's file system ignores case (always on Windows; on Linux a FAT or exFAT card, a
// case-folding folder). A missing folder holds none.
bool holdsEarlierRun(const std::string& folder);

// Why the folder cannot take the output, or "" when it can (it exists as a folder, or
// does not exist yet). Creates nothing.
std::string outdirProblem(const std::string& folder);

// Whether path names a file in folder (which need not exist yet) with a name this
// program gives its files, in any letter case, so that a run into folder may replace it
// or fail to create its own. Case is ignored on every system: where the file system keeps
// case apart, refusing such a name costs no more than choosing another.
bool namesCarvedFileIn(const std::string& path, const std::string& folder);

// Whether path names the file `name` in folder (which need not exist yet). The names are
// compared without regard to case, as Windows treats them.
bool namesFileIn(const std::string& path, const std::string& folder, const std::string& name);

// Why the contact sheet may not be written as `name` in folder, or "" when it may: a name
// velo-carve gives its photos, a folder of that name, or (without overwrite) a file of that
// name that this run did not create.
std::string sheetProblem(const std::string& folder, const std::string& name, bool overwrite);

// Creates the folder and any missing parents; "" on success, else why not.
std::string createFolders(const std::string& folder);

} // namespace velo::cli
