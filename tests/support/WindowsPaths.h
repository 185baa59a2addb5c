#pragma once

#include <string>

// The Windows form of a path of the build tree, which the tests know in its Unix form.
std::string WindowsPath(const char* unixPath);

// Makes a folder of the build tree current, so that "gogo.dll" is looked up there first.
bool EnterFolder(const char* unixPath);

// All that the file at path holds; empty when it cannot be read.
std::string FileText(const std::string& path);
