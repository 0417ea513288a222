#pragma once
#include <string>

// The file version of fileName, its four parts (most significant first) put into format where
// it says %u ("%%" is a literal percent sign); an empty format means "%u.%u.%u.%u". A file
// without version information gives an empty text.
// Without a file name the text describes the operating system instead, for example
// "Windows XP [5.1.2600] Service Pack 3".
std::string FileVersionText(const std::string& fileName = {}, const std::string& format = {});

// The name FileVersionText gives a system version: "XP" for 5.1, "" for versions it does not
// know. ntPlatform tells NT 4 from Windows 95.
std::string WindowsVersionName(unsigned major, unsigned minor, bool ntPlatform);
