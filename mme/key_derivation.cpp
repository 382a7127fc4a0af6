#include "mme/key_derivation.h"

#include "mme/sha256.h"

#include <algorithm>

namespace zrq406::mme {

Key deriveKey(std::string_view password, const std::array<std::uint8_t, 8>& salt) {
    Sha256 sha;
    sha.update(password);
    sha.update(salt);
    Sha256::Digest digest = sha.finish();
    for (int i = 1; i < 1000; ++i)
        digest = Sha256::digest(digest);
    Key key;
    std::copy_n(digest.begin(), key.size(), key.begin());
    return key;
}

Key DeriveNmk(std::string_view networkPassword) {
    return deriveKey(networkPassword, kNmkSalt);
}

Key DeriveDak(std::string_view devicePassword) {
    return deriveKey(devicePassword, kDakSalt);
}

PasswordProblem ValidateNetworkPassword(std::string_view text) {
    if (text.size() < 8 || text.size() > 64)
        return PasswordProblem::Length;
    const bool printable = std::all_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u >= 33 && u <= 126;
    });
    return printable ? PasswordProblem::None : PasswordProblem::Character;
}

bool isDevicePasswordForm(std::string_view text) {
    if (text.size() != 19)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (i % 5 == 4) {
            if (c != '-')
                return false;
        } else if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'))) {
            return false;
        }
    }
    return true;
}

} // namespace zrq406::mme
