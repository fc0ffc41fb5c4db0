// Files written whole or not at all: the text goes to a temporary file beside the target,
// which then replaces the target in one step, so that a crash or a full disc never leaves
// half a file where a good one was.
#pragma once

#include <optional>
#include <string>

// Writes the file; on failure, what went wrong (the file's name and the cause).
std::optional<std::string> WriteWholeFile(const std::string& path, const std::string& text);

// Reads a whole file of at most maxBytes; none when it cannot be read or is larger.
std::optional<std::string> ReadWholeFile(const std::string& path, size_t maxBytes);
