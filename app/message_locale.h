#pragma once
// Which of the user's locale settings the program follows.

namespace orx {

// The C library's texts (strerror) follow the user's language from the
// environment (LC_ALL, LC_MESSAGES, LANG), written in UTF-8 like every other
// text of the program; numbers are read and written the same way under every
// locale. Call first in main, and again once the window's toolkit has set
// every category from the environment.
void FollowUsersLanguage();

}  // namespace orx
