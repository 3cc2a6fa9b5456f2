#pragma once

// The calling thread's last error, in Win32 codes, and the message text of a code.

#include <string>

#include "platform/types.h"

namespace win32 {

DWORD GetLastError();
void SetLastError(DWORD code);

// The system's message for a Win32 code, in the language of the user's messages locale,
// as the system words it (trailing punctuation included). Never empty.
std::u16string ErrorMessage(DWORD code);

}  // namespace win32
