#include "package/cipher.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <memory>
#include <string>
#include <vector>

#include "support/c_handle.h"
#include "support/error.h"
#include "testing/test_support.h"

namespace orx {
namespace {

std::string FromHex(std::string_view hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
  }
  return bytes;
}

std::string ToHex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const unsigned char c : bytes) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 0x0F];
  }
  return hex;
}

// Some bytes of every value, not a repeating short pattern.
std::string Sample(std::size_t length) {
  std::string bytes(length, '\0');
  std::uint32_t x = 2463534242u;
  for (char& c : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return bytes;
}

std::string EvpOneShot(const EVP_CIPHER* cipher, std::string_view key, std::string_view iv,
                       std::string_view input, bool encrypt) {
  CHandle<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free> ctx(EVP_CIPHER_CTX_new());
  EXPECT_EQ(EVP_CipherInit_ex(ctx.get(), cipher, nullptr,
                              reinterpret_cast<const unsigned char*>(key.data()),
                              iv.empty() ? nullptr : reinterpret_cast<const unsigned char*>(iv.data()),
                              encrypt ? 1 : 0),
            1);
  EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
  std::string out(input.size() + 32, '\0');
  int n = 0;
  int tail = 0;
  EVP_CipherUpdate(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &n,
                   reinterpret_cast<const unsigned char*>(input.data()), static_cast<int>(input.size()));
  EVP_CipherFinal_ex(ctx.get(), reinterpret_cast<unsigned char*>(out.data()) + n, &tail);
  out.resize(static_cast<std::size_t>(n + tail));
  return out;
}

// The library calls used by the cipher compute the published AES-256 and
// CFB8-AES256 answers.
TEST(PackageCipherPrimitive, PublishedKnownAnswers) {
  const std::string fipsKey = FromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
  EXPECT_EQ(ToHex(EvpOneShot(EVP_aes_256_ecb(), fipsKey, {},
                             FromHex("00112233445566778899aabbccddeeff"), true)),
            "8ea2b7ca516745bfeafc49904b496089");

  const std::string nistKey = FromHex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
  const std::string nistIv = FromHex("000102030405060708090a0b0c0d0e0f");
  const std::string plain = FromHex("6bc1bee22e409f96e93d7e117393172aae2d");
  const std::string cipher = FromHex("dc1f1a8520a64db55fcc8ac554844e889700");
  EXPECT_EQ(EvpOneShot(EVP_aes_256_cfb8(), nistKey, nistIv, plain, true), cipher);
  EXPECT_EQ(EvpOneShot(EVP_aes_256_cfb8(), nistKey, nistIv, cipher, false), plain);
}

TEST(PackageCipher, KnownAnswerWithTheFixedKey) {
  std::string stream = "hello";
  EncryptCodStream(stream, "");
  EXPECT_EQ(ToHex(stream), "dbedcf60f9");
  DecryptCodStream(stream, FixedKeyText);
  EXPECT_EQ(stream, "hello");
}

TEST(PackageCipher, MatchesOpensslEncAndRoundTripsEveryLength) {
  testing::ScratchDir scratch;
  const std::string keyText = "0123456789ABCDEF0123456789ABCDEF";
  for (const std::size_t length : {0u, 1u, 15u, 16u, 17u, 8191u, 8192u, 8193u, 40000u}) {
    const std::string plain = Sample(length);
    std::string stream = plain;
    EncryptCodStream(stream, keyText);
    ASSERT_EQ(stream.size(), length);

    const std::string in = scratch.Write("plain.bin", plain);
    const std::string out = scratch / "cipher.bin";
    const auto result = testing::RunProcess(
        "/usr/bin/openssl", {"enc", "-aes-256-cfb8", "-K", ToHex(keyText), "-iv", ToHex(FixedIvText), "-in",
                    in, "-out", out});
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_TRUE(testing::ReadFile(out) == stream) << length;

    // Any range deciphers alone, given the ciphertext just before it.
    for (const std::size_t from : {std::size_t{0}, std::size_t{5}, std::size_t{16}, length / 2}) {
      if (from >= length) continue;
      std::string range = stream.substr(from, 100);
      DecryptCodRange(std::string_view(stream).substr(0, from), range.data(), range.size(), keyText);
      EXPECT_TRUE(range == plain.substr(from, 100)) << length << " from " << from;
    }

    DecryptCodStream(stream, keyText);
    EXPECT_TRUE(stream == plain) << length;
  }
}

TEST(PackageCipher, KeyTextSelection) {
  const std::string plain = Sample(1000);
  const auto encrypt = [&](std::string_view key) {
    std::string stream = plain;
    EncryptCodStream(stream, key);
    return stream;
  };
  EXPECT_EQ(encrypt(""), encrypt(FixedKeyText));
  const std::string forty = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789wxyz";
  EXPECT_EQ(encrypt(forty), encrypt(forty.substr(0, 32)));
  EXPECT_NE(encrypt(forty), encrypt(FixedKeyText));

  for (const std::string_view shortKey : {"A", "0123456789ABCDEF0123456789ABCDE"}) {
    std::string stream = plain;
    try {
      EncryptCodStream(stream, shortKey);
      ADD_FAILURE() << shortKey;
    } catch (const Error& e) {
      EXPECT_STREQ(e.what(), "Ключ отделения короче 32 символов");
    }
    EXPECT_EQ(stream, plain);  // untouched
    EXPECT_THROW(DecryptCodStream(stream, shortKey), Error);
  }
}

TEST(PackageCipher, OneDamagedByteSpoilsAtMostTheNextSixteen) {
  const std::string plain = Sample(100);
  std::string cipher = plain;
  EncryptCodStream(cipher, "");
  for (const std::size_t at : {0u, 40u, 90u, 99u}) {
    std::string damaged = cipher;
    damaged[at] = static_cast<char>(damaged[at] ^ 0x5A);
    DecryptCodStream(damaged, "");
    for (std::size_t i = 0; i < plain.size(); ++i) {
      if (i < at || i > at + 16) {
        EXPECT_EQ(damaged[i], plain[i]) << "damage at " << at << ", byte " << i;
      }
    }
    EXPECT_NE(damaged[at], plain[at]);
  }
}

}  // namespace
}  // namespace orx
