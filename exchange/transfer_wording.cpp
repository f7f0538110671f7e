#include "exchange/transfer_wording.h"

#include <curl/curl.h>

namespace orx {
namespace {

struct Wording {
  CURLcode code;
  std::string_view own;
};

constexpr Wording kWordings[] = {
    {CURLE_UNSUPPORTED_PROTOCOL, "Адрес ведёт по протоколу, который программа не поддерживает"},
    {CURLE_FAILED_INIT, "Не удалось начать запрос"},
    {CURLE_URL_MALFORMAT, "Неверный адрес сервера"},
    {CURLE_COULDNT_RESOLVE_PROXY, "Не удалось найти прокси-сервер по имени"},
    {CURLE_COULDNT_RESOLVE_HOST, "Не удалось найти сервер по имени"},
    {CURLE_COULDNT_CONNECT, "Не удалось подключиться к серверу"},
    {CURLE_WEIRD_SERVER_REPLY, "Сервер ответил не по протоколу HTTP"},
    {CURLE_PARTIAL_FILE, "Ответ сервера пришёл не полностью"},
    {CURLE_WRITE_ERROR, "Не удалось принять ответ сервера"},
    {CURLE_READ_ERROR, "Не удалось прочитать данные запроса"},
    {CURLE_OUT_OF_MEMORY, "Не хватило памяти"},
    {CURLE_OPERATION_TIMEDOUT, "Истекло время ожидания"},
    {CURLE_SSL_CONNECT_ERROR, "Не удалось установить защищённое соединение (TLS)"},
    {CURLE_ABORTED_BY_CALLBACK, "Запрос прерван"},
    {CURLE_TOO_MANY_REDIRECTS, "Слишком много перенаправлений"},
    {CURLE_GOT_NOTHING, "Сервер ничего не ответил"},
    {CURLE_SSL_ENGINE_NOTFOUND, "Не найден криптографический модуль OpenSSL (engine)"},
    {CURLE_SEND_ERROR, "Не удалось отправить данные серверу"},
    {CURLE_RECV_ERROR, "Не удалось получить данные от сервера"},
    {CURLE_SSL_CERTPROBLEM, "Не удалось предъявить клиентский сертификат"},
    {CURLE_SSL_CIPHER, "Не удалось использовать заданный шифр TLS"},
    {CURLE_PEER_FAILED_VERIFICATION, "Сертификат сервера не прошёл проверку"},
    {CURLE_BAD_CONTENT_ENCODING, "Ответ сервера сжат неизвестным способом или повреждён"},
    {CURLE_FILESIZE_EXCEEDED, "Ответ сервера слишком велик"},
    {CURLE_SSL_ENGINE_INITFAILED, "Не удалось запустить криптографический модуль OpenSSL (engine)"},
    {CURLE_SSL_CACERT_BADFILE, "Не удалось прочитать доверенные корневые сертификаты"},
    {CURLE_SSL_SHUTDOWN_FAILED, "Не удалось завершить защищённое соединение"},
    {CURLE_SSL_ISSUER_ERROR, "Сертификат сервера выдан не тем удостоверяющим центром"},
    {CURLE_PROXY, "Прокси-сервер не установил соединение"},
    {CURLE_SSL_CLIENTCERT, "Сервер требует клиентский сертификат"},
};

}  // namespace

std::optional<std::string_view> TransferErrorWording(std::uint32_t code) {
  for (const Wording& wording : kWordings) {
    if (static_cast<std::uint32_t>(wording.code) == code) return wording.own;
  }
  return std::nullopt;
}

}  // namespace orx
