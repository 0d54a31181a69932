// owner.h - owner names and random identities.
//
// An owner name is never stored: the catalog keeps a random salt and an
// iterated SHA-256 of salt and name.  (Owner names are at most 8 bytes, so
// this keeps the name out of sight in the file, not safe from a determined
// search.)
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace recman {

constexpr size_t kMaxOwnerName = 8;

// The owner name in a caller's buffer: up to the first zero byte, at most 8.
std::string OwnerNameFrom(const void* buffer, size_t length);
std::string OwnerHash(const std::string& salt, const std::string& name);
bool OwnerMatches(const std::string& salt, const std::string& hash, const std::string& name);
std::string RandomBytes(size_t n);
std::string RandomHex(size_t bytes);
std::string Sha256(const std::string& data);

}  // namespace recman
