#include "mme/key_derivation.h"
#include "mme/sha256.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>

using namespace zrq406::mme;

namespace {

template <typename Bytes> std::string hex(const Bytes& bytes) {
    std::string out;
    char two[3];
    for (auto b : bytes) {
        std::snprintf(two, sizeof two, "%02x", b);
        out += two;
    }
    return out;
}

std::string sha(std::string_view text) {
    Sha256 s;
    s.update(text);
    return hex(s.finish());
}

} // namespace

TEST(Sha256, KnownAnswers) {
    EXPECT_EQ(sha(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(sha("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    Sha256 million;
    const std::string chunk(1000, 'a');
    for (int i = 0; i < 1000; ++i)
        million.update(chunk);
    EXPECT_EQ(hex(million.finish()), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, PiecewiseEqualsOneShotAtEveryPaddingBoundary) {
    // Lengths around 55/56/64 bytes exercise the one- and two-block paddings.
    for (std::size_t n : {0u, 1u, 55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 200u}) {
        std::string text(n, '\0');
        for (std::size_t i = 0; i < n; ++i)
            text[i] = static_cast<char>('A' + i % 26);
        Sha256 pieces;
        for (std::size_t i = 0; i < n; i += 7)
            pieces.update(std::string_view(text).substr(i, 7));
        EXPECT_EQ(hex(pieces.finish()), sha(text)) << "length " << n;
    }
}

TEST(KeyDerivation, DefaultPasswordGivesTheDefaultNmk) {
    EXPECT_EQ(DeriveNmk(kDefaultNetworkPassword), kDefaultNmk);
}

TEST(KeyDerivation, DevicePasswordHomePlugAVGivesItsPublishedDak) {
    // The device access key that HomePlug AV tools publish for the device password "HomePlugAV" (the same
    // text as the default network password, derived with the DAK salt instead of the NMK salt).
    EXPECT_EQ(hex(DeriveDak("HomePlugAV")), "689f074b8b0275a2710b0b5779ad1630");
}

TEST(KeyDerivation, SaltsGiveDifferentKeys) {
    EXPECT_NE(DeriveNmk("ABCD-EFGH-IJKL-MNOP"), DeriveDak("ABCD-EFGH-IJKL-MNOP"));
    EXPECT_NE(DeriveDak("ABCD-EFGH-IJKL-MNOP"), DeriveDak("ABCD-EFGH-IJKL-MNOQ"));
    // The salts differ in their last byte only.
    EXPECT_TRUE(std::equal(kDakSalt.begin(), kDakSalt.end() - 1, kNmkSalt.begin()));
    EXPECT_NE(kDakSalt.back(), kNmkSalt.back());
}

TEST(KeyDerivation, NetworkPasswordRules) {
    EXPECT_EQ(ValidateNetworkPassword("12345678"), PasswordProblem::None);
    EXPECT_EQ(ValidateNetworkPassword(std::string(64, '~')), PasswordProblem::None);
    EXPECT_EQ(ValidateNetworkPassword("1234567"), PasswordProblem::Length);
    EXPECT_EQ(ValidateNetworkPassword(std::string(65, 'x')), PasswordProblem::Length);
    EXPECT_EQ(ValidateNetworkPassword("has a space"), PasswordProblem::Character);
    EXPECT_EQ(ValidateNetworkPassword("tab\there!"), PasswordProblem::Character);
    EXPECT_EQ(ValidateNetworkPassword("umlaut\xC3\xA4ok"), PasswordProblem::Character);
    // Length is judged first: a short text with a space gives the length message.
    EXPECT_EQ(ValidateNetworkPassword("a b"), PasswordProblem::Length);
}

TEST(KeyDerivation, DevicePasswordForm) {
    EXPECT_TRUE(isDevicePasswordForm("ABCD-EFGH-1234-WXYZ"));
    EXPECT_FALSE(isDevicePasswordForm("ABCD-EFGH-1234-WXY"));   // 18
    EXPECT_FALSE(isDevicePasswordForm("ABCD-EFGH-1234-WXYZ0")); // 20
    EXPECT_FALSE(isDevicePasswordForm("ABC-DEFGH-1234-WXYZ"));  // hyphen moved
    EXPECT_FALSE(isDevicePasswordForm("-ABCDEFGH-1234-WXY"));
    EXPECT_FALSE(isDevicePasswordForm("ABCD-EFGH-1234-WXyZ")); // lower case is upper-cased before the check
    EXPECT_FALSE(isDevicePasswordForm("ABCD-EF_H-1234-WXYZ"));
}
