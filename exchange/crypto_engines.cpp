// The ENGINE interface is deprecated in OpenSSL 3, but on Debian 12 it is the
// only way to GOST keys and to keys on tokens: no provider offers either.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "exchange/crypto_engines.h"

#include <openssl/engine.h>
#include <openssl/err.h>
#include <openssl/ui.h>
#include <p11-kit/pkcs11.h>

#include <mutex>

#include "exchange/token_store.h"

namespace orx {
namespace {

// What one key load asks of the PIN reader, and what came of it.
struct PinRequest {
  TokenPinSource* source = nullptr;
  std::string label;
  bool asked = false;
  bool given = false;
  std::string problem;
};

// libp11 asks for a PIN through this and nothing else: never on a terminal,
// and at most once per key load. Without a request (a signature that wants
// the PIN again) it gives none.
int ReadPin(UI* ui, UI_STRING* text) {
  const int type = UI_get_string_type(text);
  if (type != UIT_PROMPT && type != UIT_VERIFY) return 1;  // nothing to show anywhere
  auto* request = static_cast<PinRequest*>(UI_get0_user_data(ui));
  if (!request || !request->source || request->asked) return 0;
  request->asked = true;
  KeepSecretsOutOfCoreDumps();
  TokenPin pin;
  if (!request->source->GetPin(request->label, pin, request->problem)) return 0;
  const std::string_view value = pin.view();
  const int size = static_cast<int>(value.size());
  if (size < UI_get_result_minsize(text) || size > UI_get_result_maxsize(text)) {
    request->problem = "PIN-код должен быть длиной от " +
                       std::to_string(UI_get_result_minsize(text)) + " до " +
                       std::to_string(UI_get_result_maxsize(text)) + " знаков";
    return 0;
  }
  if (UI_set_result_ex(ui, text, value.data(), size) < 0) return 0;
  request->given = true;
  return 1;
}

class Engines {
 public:
  Engines() {
    pinReader_ = UI_create_method("Convertor ORX token PIN");
    if (pinReader_) UI_method_set_reader(pinReader_, ReadPin);
    gost_ = Functional("gost");
    if (gost_ && ENGINE_set_default(gost_, ENGINE_METHOD_ALL) != 1) {
      ENGINE_finish(gost_);
      gost_ = nullptr;
    }
    if (ENGINE* pkcs11 = ENGINE_by_id("pkcs11")) {
      // libp11 writes its complaints to standard error, where a batch run
      // keeps only its log lines; what went wrong is read from the error
      // queue instead.
      if (ENGINE_ctrl_cmd_string(pkcs11, "QUIET", nullptr, 0) == 1 &&
          (!pinReader_ ||
           ENGINE_ctrl_cmd(pkcs11, "SET_USER_INTERFACE", 0, pinReader_, nullptr, 0) == 1) &&
          ENGINE_init(pkcs11) == 1)
        pkcs11_ = pkcs11;
      ENGINE_free(pkcs11);
    }
    ERR_clear_error();  // an engine that is not installed is no error of anyone's
  }
  // The token engine is left as it is: releasing it unloads the module while
  // the process may still hold a key from it, and the process ends anyway.
  ~Engines() {
    if (gost_) ENGINE_finish(gost_);
  }
  Engines(const Engines&) = delete;
  Engines& operator=(const Engines&) = delete;

  bool gost() const { return gost_ != nullptr; }

  bool LoadKey(ClientCertificate& certificate, TokenPinSource* pins, std::string& problem) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const std::string token = "\"" + certificate.token.label + "\"";
    if (!pkcs11_ || !pinReader_) {
      problem = "ключ на токене " + token + " недоступен без пакета libengine-pkcs11-openssl";
      return false;
    }
    // The engine opens its module at its first key, and keeps it.
    if (module_.empty()) {
      if (ENGINE_ctrl_cmd_string(pkcs11_, "MODULE_PATH", certificate.token.module.c_str(), 0) != 1) {
        problem = "модуль PKCS#11 " + certificate.token.module + " не передан движку pkcs11";
        return false;
      }
      module_ = certificate.token.module;
    } else if (module_ != certificate.token.module) {
      problem = "ключи токенов берутся из модуля " + module_ + ", а не из " +
                certificate.token.module;
      return false;
    }
    if (certificate.token.flags & CKF_USER_PIN_LOCKED) {
      problem = "токен " + token + " заблокирован: PIN-код вводили неверно слишком много раз";
      return false;
    }

    PinRequest request;
    request.source = pins;
    request.label = certificate.token.label;
    ERR_set_mark();
    certificate.key.reset(
        ENGINE_load_private_key(pkcs11_, certificate.token.keyUri.c_str(), pinReader_, &request));
    const bool pinRefused = request.given && !certificate.key && PinRefusedInErrorQueue();
    const std::string reason = LastErrorText();
    ERR_pop_to_mark();
    if (certificate.key) return true;

    if (!request.problem.empty()) {
      problem = "PIN-код токена " + token + " не получен: " + request.problem;
    } else if (pinRefused) {
      problem = "токен " + token + " не принял PIN-код" + TriesLeft(certificate.token);
    } else {
      problem = "ключ сертификата на токене " + token + " не загружен" +
                (reason.empty() ? "" : " (" + reason + ")");
    }
    return false;
  }

 private:
  static ENGINE* Functional(const char* id) {
    ENGINE* engine = ENGINE_by_id(id);
    if (!engine) return nullptr;
    const bool ready = ENGINE_init(engine) == 1;
    ENGINE_free(engine);  // the functional reference keeps it
    return ready ? engine : nullptr;
  }

  // libp11 puts the module's return code of a refused login in the queue as
  // the reason of its own library.
  static bool PinRefusedInErrorQueue() {
    unsigned long error = 0;
    while ((error = ERR_get_error()) != 0) {
      const char* library = ERR_lib_error_string(error);
      if (!library || std::string_view(library).find("PKCS#11") == std::string_view::npos)
        continue;
      switch (ERR_GET_REASON(error)) {
        case CKR_PIN_INCORRECT:
        case CKR_PIN_INVALID:
        case CKR_PIN_LEN_RANGE:
        case CKR_PIN_EXPIRED:
        case CKR_PIN_LOCKED:
          return true;
        default:
          break;
      }
    }
    return false;
  }

  static std::string LastErrorText() {
    const unsigned long error = ERR_peek_last_error();
    if (error == 0) return {};
    char text[256];
    ERR_error_string_n(error, text, sizeof text);
    return text;
  }

  // What the token tells of the tries left; many tell nothing.
  static std::string TriesLeft(const TokenKey& token) {
    const auto flags = CurrentTokenFlags(token);
    if (!flags) return {};
    if (*flags & CKF_USER_PIN_LOCKED) return " и заблокирован";
    if (*flags & CKF_USER_PIN_FINAL_TRY) return ": осталась последняя попытка";
    if (*flags & CKF_USER_PIN_COUNT_LOW) return ": попыток осталось мало";
    return {};
  }

  UI_METHOD* pinReader_ = nullptr;
  ENGINE* gost_ = nullptr;
  ENGINE* pkcs11_ = nullptr;
  std::mutex mutex_;
  std::string module_;
};

Engines& TheEngines() {
  static Engines engines;
  return engines;
}

}  // namespace

void InitCryptoEngines() { static_cast<void>(TheEngines()); }

bool GostEngineLoaded() { return TheEngines().gost(); }

bool LoadTokenKey(ClientCertificate& certificate, TokenPinSource* pins, std::string& problem) {
  return TheEngines().LoadKey(certificate, pins, problem);
}

}  // namespace orx
