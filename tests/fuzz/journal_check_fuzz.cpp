// The service journal's check on whatever its file and its end file may hold (split at the
// first zero byte): it never crashes, and trust never ends past the lines there are.
#include <cstdint>
#include <string_view>

#include "device/service_journal.h"
#include "input_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t zero = input.find('\0');
    const std::string_view journal = input.substr(0, zero);
    const std::optional<std::string_view> end =
        zero == std::string_view::npos ? std::nullopt
                                       : std::optional<std::string_view>(input.substr(zero + 1));
    const JournalCheck check = CheckJournalText(journal, end);
    FUZZ_CHECK(check.firstUntrusted >= 0 && check.firstUntrusted <= check.lines + 1);
    FUZZ_CHECK(check.Whole() == check.reason.empty());
    FUZZ_CHECK(check.entries.size() <= static_cast<size_t>(check.lines));
    for (const ChangeAttempt& a : ChangeAttempts(check.entries))
        (void)a.OutcomeText();
    return 0;
}
