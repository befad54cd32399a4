#pragma once

#include <string>

namespace velo::cli
{

// Whether a name is one this program gives its files: "DD", three or more digits, ".JPG".
bool isCarvedFileName(const std::string& name);

// Whether the folder holds a file from an earlier run. A missing folder holds none.
bool holdsEarlierRun(const std::string& folder);

// Why the folder cannot take the output, or "" when it can (it exists as a folder, or
// does not exist yet). Creates nothing.
std::string outdirProblem(const std::string& folder);

// Whether path names a file in folder (which need not exist yet) with a name this
// program gives its files, so that a run into folder may replace it.
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
