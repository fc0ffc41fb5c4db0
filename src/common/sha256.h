// SHA-256 of a text, through libgcrypt on every platform.
#pragma once

#include <string>
#include <string_view>

// The digest as 64 lower-case hex digits.
std::string Sha256Hex(std::string_view bytes);
