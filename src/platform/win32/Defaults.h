#pragma once
// The real services, for the accessors of Platform.cpp. Win32 build only.
#include "platform/Platform.h"

namespace platform::win32 {

// The process-wide Win32 implementations; they live until the process ends.
Files& DefaultFiles();
Registry& DefaultRegistry();
System& DefaultSystem();
Network& DefaultNetwork();

}  // namespace platform::win32
