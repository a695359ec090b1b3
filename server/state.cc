// The process-wide state of the server subsystem (declared, with its
// writers, in server.h).
#include "server/server.h"

namespace ktdb {

bool LibraryInitialised = false;
DBPROCESS* MainConnection = nullptr;
DBPROCESS* SecondConnection = nullptr;
std::array<char, kLoginTextSize> UserName = {};
std::array<char, kLoginTextSize> PasswordText = {};
std::array<char, kLoginTextSize> ServerName = {};
std::int32_t ClientCharacterBytes = 1;
bool CancelAsked = false;
std::chrono::steady_clock::time_point CancelAskedAt = {};
std::int32_t ErrorCount = 0;
bool LoginInProgress = false;
std::array<char, kLoginTextSize> ClientCharset = {};

}  // namespace ktdb
