#pragma once
// Test doubles for the platform services: one in-memory Windows-like machine with a file
// system, a registry, process services, a scripted HTTP server and small FTP servers. Each
// service has its own double (FakeFiles, FakeRegistry, FakeSystem, FakeNetwork); they count
// their calls in one sequence (FakeCalls), so failing the n-th call walks through all of
// them. FakePlatform is the four on one counter, with every helper of each.
//
// Single-threaded: use the services from one thread at a time. File objects and network
// handles must not outlive the platform.
#include "doubles/FakeCalls.h"
#include "doubles/FakeFiles.h"
#include "doubles/FakeNetwork.h"
#include "doubles/FakeRegistry.h"
#include "doubles/FakeSystem.h"
#include "doubles/FakeTime.h"

namespace platform::fake {

// FakeCalls comes first: the services are built on it.
class FakePlatform : public FakeCalls,
                     public FakeFiles,
                     public FakeRegistry,
                     public FakeSystem,
                     public FakeNetwork {
public:
    FakePlatform();

    void Install();          // as all four services
    static void Uninstall(); // no services installed
};

// A FakePlatform installed for the lifetime of the object (one per test).
class ScopedFakePlatform : public FakePlatform {
public:
    ScopedFakePlatform() { Install(); }
    ~ScopedFakePlatform() override { Uninstall(); }
};

}  // namespace platform::fake
