#pragma once
#include <cstddef>
#include <string>

// Joins the entries of a NUL-separated list (as the configuration manager returns it) with
// `separator`. At most `size` characters of `buffer` are read.
std::string JoinMultiString(const char* buffer, std::size_t size, const std::string& separator);
