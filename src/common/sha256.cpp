#include "common/sha256.h"

#include <gcrypt.h>

#include <array>

#include "common/saved_text.h"

namespace {

// libgcrypt wants its version check before its first use; a digest needs nothing more.
void InitialiseOnce() {
    static const bool initialised = [] {
        gcry_check_version(nullptr);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    (void)initialised;
}

}  // namespace

std::string Sha256Hex(std::string_view bytes) {
    InitialiseOnce();
    std::array<unsigned char, 32> digest{};
    gcry_md_hash_buffer(GCRY_MD_SHA256, digest.data(), bytes.data(), bytes.size());
    return CompactHex(std::span<const uint8_t>(digest.data(), digest.size()));
}
