#include "package/cipher.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstddef>
#include <memory>

#include "support/c_handle.h"
#include "support/error.h"

namespace orx {
namespace {

constexpr std::size_t kKeySize = 32;
constexpr std::size_t kPieceSize = 8192;

[[noreturn]] void ThrowOpenSslError(const char* operation) {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  char reason[256] = "unknown error";
  if (code != 0) ERR_error_string_n(code, reason, sizeof reason);
  throw Error(std::string("Шифр пакета: сбой ") + operation + ": " + reason);
}

// Transforms length bytes at data in place, the register starting at iv.
void Transform(unsigned char* data, std::size_t length, std::string_view keyText,
               const unsigned char* iv, bool encrypt) {
  if (length == 0) return;
  if (keyText.empty()) keyText = FixedKeyText;
  // The key bytes are the text's own character codes; EVP reads exactly 32,
  // so a shorter text would make it read past the end.
  if (keyText.size() < kKeySize) {
    throw Error("Ключ отделения короче " + std::to_string(kKeySize) + " символов");
  }
  // EVP_CIPHER_CTX_free also wipes the key schedule and the register.
  CHandle<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free> ctx(EVP_CIPHER_CTX_new());
  if (!ctx) ThrowOpenSslError("EVP_CIPHER_CTX_new");
  if (EVP_CipherInit_ex(ctx.get(), EVP_aes_256_cfb8(), nullptr,
                        reinterpret_cast<const unsigned char*>(keyText.data()), iv,
                        encrypt ? 1 : 0) != 1) {
    ThrowOpenSslError("EVP_CipherInit_ex");
  }
  // In place, piece by piece: CFB-8 keeps its register across updates, so the
  // division does not change the output.
  for (std::size_t offset = 0; offset < length; offset += kPieceSize) {
    const int piece = static_cast<int>(std::min(kPieceSize, length - offset));
    int written = 0;
    if (EVP_CipherUpdate(ctx.get(), data + offset, &written, data + offset, piece) != 1 ||
        written != piece) {
      ThrowOpenSslError("EVP_CipherUpdate");
    }
  }
  unsigned char tail[EVP_MAX_BLOCK_LENGTH];
  int tailLength = 0;
  if (EVP_CipherFinal_ex(ctx.get(), tail, &tailLength) != 1 || tailLength != 0) {
    ThrowOpenSslError("EVP_CipherFinal_ex");
  }
}

void TransformCodStream(std::string& stream, std::string_view keyText, bool encrypt) {
  Transform(reinterpret_cast<unsigned char*>(stream.data()), stream.size(), keyText,
            reinterpret_cast<const unsigned char*>(FixedIvText.data()), encrypt);
}

}  // namespace

void EncryptCodStream(std::string& stream, std::string_view keyText) {
  TransformCodStream(stream, keyText, true);
}

void DecryptCodStream(std::string& stream, std::string_view keyText) {
  TransformCodStream(stream, keyText, false);
}

void DecryptCodRange(std::string_view preceding, char* data, std::size_t length,
                     std::string_view keyText) {
  // The register before a byte is the 16 bytes that entered it last: the IV
  // followed by the ciphertext so far.
  constexpr std::size_t kRegister = 16;
  if (preceding.size() > kRegister) preceding.remove_prefix(preceding.size() - kRegister);
  std::string iv(FixedIvText.substr(preceding.size()));
  iv.append(preceding);
  Transform(reinterpret_cast<unsigned char*>(data), length, keyText,
            reinterpret_cast<const unsigned char*>(iv.data()), false);
}

}  // namespace orx
