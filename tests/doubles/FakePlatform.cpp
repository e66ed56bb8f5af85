// The four doubles on one counter, and a test program's default services.
#include "doubles/FakePlatform.h"

#include <cstdio>
#include <cstdlib>

namespace platform::fake {

// Bases are built in order: each service gets the ones built before it.
FakePlatform::FakePlatform()
    : FakeFiles(static_cast<FakeCalls&>(*this)), FakeRegistry(static_cast<FakeCalls&>(*this)),
      FakeSystem(static_cast<FakeCalls&>(*this), static_cast<FakeFiles&>(*this)),
      FakeNetwork(static_cast<FakeCalls&>(*this), static_cast<FakeFiles&>(*this),
                  static_cast<FakeSystem&>(*this)) {}

void FakePlatform::Install() { platform::Install(this, this, this, this); }
void FakePlatform::Uninstall() { platform::Install(nullptr, nullptr, nullptr, nullptr); }

}  // namespace platform::fake

namespace platform {
namespace {

[[noreturn]] void NoDouble(const char* service) {
    std::fprintf(stderr, "platform: no %s service installed (a test installs its doubles)\n",
                 service);
    std::fflush(stderr);
    std::abort();
}

}  // namespace

// A test program has no services of its own: each test installs its own machine, and one
// that reaches the services without it (or after it is gone) stops here, by name, rather
// than sharing a default machine's files, clock and failures with the tests before it.
Files& DefaultFiles() { NoDouble("Files"); }
Registry& DefaultRegistry() { NoDouble("Registry"); }
System& DefaultSystem() { NoDouble("System"); }
Network& DefaultNetwork() { NoDouble("Network"); }

}  // namespace platform
