// The time of day as the tool writes it into the files it saves: local time with
// milliseconds, "YYYY-MM-DD HH:MM:SS.mmm", readable by a person and by a script.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Milliseconds since the epoch of the system clock.
int64_t WallNowMs();

std::string WallTimeText(int64_t msSinceEpoch);
// What WallTimeText wrote, back in milliseconds since the epoch; none for any other text.
std::optional<int64_t> ParseWallTime(std::string_view text);
