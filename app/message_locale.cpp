#include "app/message_locale.h"

#include <libintl.h>

#include <clocale>

namespace orx {

void FollowUsersLanguage() {
  std::setlocale(LC_MESSAGES, "");
  // gettext converts a translation into LC_CTYPE's character set, which is
  // ASCII while LC_CTYPE stays "C": Russian would come out transliterated.
  bind_textdomain_codeset("libc", "UTF-8");
  // libxml2 reads xs:double and xs:float values with sscanf, so a decimal
  // comma locale would compare 1.5 with a facet as 1.
  std::setlocale(LC_NUMERIC, "C");
}

}  // namespace orx
