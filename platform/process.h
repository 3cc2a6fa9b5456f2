#pragma once

// Process-wide services: the error mode, the program's own file and the beep.

#include <functional>
#include <string>

#include "platform/types.h"

namespace win32 {

// There are no critical-error dialogs on Linux; the mode is only kept and returned.
DWORD SetErrorMode(DWORD mode);

// Native path of the program's executable file.
std::string ExecutablePath();

// Rings the hook the window installed; without one, nothing sounds.
void MessageBeep(DWORD type);
void InstallBeepHook(std::function<void(DWORD)> hook);

}  // namespace win32
