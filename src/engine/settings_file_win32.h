#pragma once
#include <string>

// Creates `folder` and any missing parent folders (ANSI path); true when it exists afterwards.
bool CreateFolderTree(const std::string& folder);
