// The HTTP Basic login of the admin port: credentials decoded strictly and checked against a
// crypt(3) hash.
#pragma once

#include <string>

/// Decodes standard base64 strictly: false on a character outside its alphabet, a wrong length,
/// padding anywhere but at the end, or padding bits that are not zero.
bool Base64Decode(const std::string& text, std::string& out);
/// Whether an Authorization header value ("Basic <base64 of user:password>") names `user` with a
/// password that `hash` (crypt(3)) accepts. An empty or unusable hash accepts nothing; credentials
/// that are not exactly base64 of user-id ":" password, or hold a control character, are refused.
bool BasicLoginMatches(const std::string& authorization, const std::string& user, const std::string& hash);
/// Whether `hash` is a hash crypt(3) can check passwords against.
bool UsableCryptHash(const std::string& hash);
/// Whether crypt(3) gives `hash` again for `password` (compared in constant time); a locked or
/// unusable hash accepts nothing.
bool PasswordMatches(const std::string& password, const std::string& hash);
/// A crypt(3) hash of `password` with a fresh salt: yescrypt where libcrypt has it, else SHA-512.
std::string HashPassword(const std::string& password);
/// Whether `given` equals `expected`, in a time that does not tell how much of it was right.
bool SameBytes(const std::string& given, const std::string& expected);
