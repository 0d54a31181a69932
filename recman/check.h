// check.h - consistency check of a data file, for the recutil tool and tests.
//
// Not part of BTRCALL: it reads the store directly, in one read transaction,
// and compares every index with the entries its records call for.
#pragma once
#include <cstdint>
#include <string>

// Returns 0 when the file is sound; otherwise a status (12, 30, 51, ...) or
// B_IO_ERROR with one line per fault found appended to `report`.
int16_t RecmanCheckFile(const std::string& path, const std::string& owner, std::string& report);
