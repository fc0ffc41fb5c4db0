// Files that the tool's own windows save for the operator.
#pragma once

#include <QString>
#include <string>

// Writes a whole text file, or nothing: false, with a message naming the file and the cause,
// when it cannot.
bool SaveTextFile(const QString& path, const std::string& text);
