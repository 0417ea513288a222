#pragma once
#include <string>

// Creates `folder` (a UTF-8 path) and any missing parent folders; true when it exists afterwards.
bool CreateFolderTree(const std::string& folder);
