#include "exchange/cert_store.h"

#include <openssl/pem.h>
#include <openssl/pkcs12.h>

#include "testing/https_test_server.h"
#include "testing/test_support.h"

namespace orx {
namespace {

TEST(ContainsIgnoringCase, FindsTheFoldedPart) {
  const struct {
    std::string_view text;
    std::string_view part;
    bool expected;
  } cases[] = {
      {"CN=Office 7 Form A,O=Test", "form a", true},
      {"CN=Office 7 Form A,O=Test", "FORM A,O=TEST", true},
      {"CN=Офис 7 Форма А,O=Тест", "форма а", true},
      {"CN=офис", "ОФИС", true},
      {"Straße", "STRASSE", false},         // no multi-letter folding
      {"Form A", "Form B", false},
      {"Form A", "", true},
      {"", "a", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ContainsIgnoringCase(c.text, c.part), c.expected) << c.text << " / " << c.part;
}

TEST(DefaultCertStoreFolder, FollowsTheEnvironment) {
  const struct {
    const char* store;
    const char* dataHome;
    const char* home;
    std::string expected;
  } cases[] = {
      {"/srv/certs", "/data", "/home/u", "/srv/certs"},
      {"", "/data", "/home/u", "/data/convertor-orx/certs"},
      {nullptr, "", "/home/u", "/home/u/.local/share/convertor-orx/certs"},
  };
  for (const auto& c : cases) {
    testing::ScopedEnv store("ORX_CERT_STORE", c.store);
    testing::ScopedEnv data("XDG_DATA_HOME", c.dataHome);
    testing::ScopedEnv home("HOME", c.home);
    EXPECT_EQ(DefaultCertStoreFolder(), c.expected);
  }
}

class CertStoreTest : public ::testing::Test {
 protected:
  std::string MakePem(std::string_view subject) {
    const auto file = scratch_.path() / ("made" + std::to_string(++count_) + ".pem");
    pki_.MakeClientCert(subject, testing::CertFormat::Pem, file);
    return testing::ReadFile(file);
  }
  static std::string Block(const std::string& pem, std::string_view kind) {
    const std::string begin = "-----BEGIN " + std::string(kind) + "-----";
    const std::string end = "-----END " + std::string(kind) + "-----\n";
    const auto from = pem.find(begin);
    return pem.substr(from, pem.find(end, from) + end.size() - from);
  }
  // A PKCS#12 file of the PEM's certificate and key under a password.
  static std::string Pkcs12With(const std::string& pem, const char* password) {
    BIO* in = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    X509Ptr cert(PEM_read_bio_X509(in, nullptr, nullptr, nullptr));
    BIO_reset(in);
    EvpPkeyPtr key(PEM_read_bio_PrivateKey(in, nullptr, nullptr, nullptr));
    BIO_free(in);
    PKCS12* p12 = PKCS12_create(password, nullptr, key.get(), cert.get(), nullptr, 0, 0, 0, 0, 0);
    unsigned char* der = nullptr;
    const int size = i2d_PKCS12(p12, &der);
    std::string bytes(reinterpret_cast<char*>(der), static_cast<std::size_t>(size));
    OPENSSL_free(der);
    PKCS12_free(p12);
    return bytes;
  }
  static std::string Encrypted(const std::string& keyPem) {
    BIO* in = BIO_new_mem_buf(keyPem.data(), static_cast<int>(keyPem.size()));
    EvpPkeyPtr key(PEM_read_bio_PrivateKey(in, nullptr, nullptr, nullptr));
    BIO_free(in);
    BIO* out = BIO_new(BIO_s_mem());
    char password[] = "secret";
    PEM_write_bio_PKCS8PrivateKey(out, key.get(), EVP_aes_256_cbc(), password, 6, nullptr,
                                  nullptr);
    char* data = nullptr;
    const long size = BIO_get_mem_data(out, &data);
    std::string text(data, static_cast<std::size_t>(size));
    BIO_free(out);
    return text;
  }

  testing::TestPki pki_;
  testing::ScratchDir scratch_;
  testing::ScratchDir store_;
  int count_ = 0;
};

TEST_F(CertStoreTest, PassesOverFilesItCannotUse) {
  const std::string good = MakePem("/O=Test/CN=Office 9 Form A");
  const std::string other = MakePem("/O=Test/CN=Office 8 Form A");
  const std::string cert = Block(good, "CERTIFICATE");
  const std::string key = Block(good, "PRIVATE KEY");
  store_.Write("1-garbage.pem", "-----BEGIN CERTIFICATE-----\nnot base64\n");
  store_.Write("2-garbage.p12", std::string(100, '\x30'));
  store_.Write("3-empty.pfx", "");
  store_.Write("4-encrypted.pem", cert + Encrypted(key));
  store_.Write("5-wrong-key.pem", Block(other, "CERTIFICATE") + key);
  store_.Write("6-no-key.pem", Block(other, "CERTIFICATE"));
  store_.Write("7-other.txt", other);
  std::filesystem::create_directory(store_.path() / "8-folder.pem");
  store_.Write("9-key-first.pem", key + cert);

  const auto result = FindClientCertificate({{store_.path().string()}, ""}, "form a");
  ASSERT_TRUE(result.found.cert) << result.problem;
  EXPECT_EQ(result.found.subject, "CN=Office 9 Form A,O=Test");
  EXPECT_EQ(result.found.file, (store_.path() / "9-key-first.pem").string());
  EXPECT_EQ(X509_check_private_key(result.found.cert.get(), result.found.key.get()), 1);
}

TEST_F(CertStoreTest, TellsWhatWasSearchedAndWhatNeedsAPassword) {
  const std::string formA = MakePem("/O=Test/CN=Office 9 Form A");
  const std::string ct1 = MakePem("/O=Test/CN=Office 9 CT-1");
  store_.Write("a.pem", ct1);
  store_.Write("b.p12", Pkcs12With(formA, "secret"));  // its subject is hidden too
  store_.Write("c.pem", Block(formA, "CERTIFICATE") + Encrypted(Block(formA, "PRIVATE KEY")));
  store_.Write("d.pem", Block(ct1, "CERTIFICATE") + Encrypted(Block(ct1, "PRIVATE KEY")));
  const std::string store = store_.path().string();
  const std::string missing = store_ / "missing";
  const std::string searched = "нет сертификата клиента, в субъекте которого есть \"Form A\" "
                               "(просмотрены: ";
  const std::string passwords =
      "; пропущены файлы, которым нужен пароль (в хранилище файлы PKCS#12 без пароля и PEM с "
      "незашифрованным ключом): " + store + "/b.p12, " + store + "/c.pem";
  const struct {
    std::vector<std::string> folders;
    std::string problem;
  } cases[] = {
      {{store, missing}, searched + store + ", " + missing + ")" + passwords},
      {{missing, store},
       searched + missing + ", " + store + "); папка " + missing +
           " не читается (No such file or directory)" + passwords},
  };
  for (const auto& c : cases) {
    const auto result = FindClientCertificate({c.folders, ""}, "Form A");
    EXPECT_FALSE(result.found.cert);
    EXPECT_EQ(result.problem, c.problem);
  }
}

TEST_F(CertStoreTest, TheFirstFolderWithAMatchWins) {
  testing::ScratchDir shared;
  shared.Write("a.pem", MakePem("/O=Test/CN=Shared Form A"));
  store_.Write("z.pem", MakePem("/O=Test/CN=Own CT-1"));
  const std::vector<std::string> folders = {store_.path().string(), shared.path().string()};
  EXPECT_EQ(FindClientCertificate({folders, ""}, "Form A").found.subject,
            "CN=Shared Form A,O=Test");
  store_.Write("z.pem", MakePem("/O=Test/CN=Own Form A"));
  EXPECT_EQ(FindClientCertificate({folders, ""}, "Form A").found.subject, "CN=Own Form A,O=Test");
}

}  // namespace
}  // namespace orx
