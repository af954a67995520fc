// Start-up order of the framework's units.
//
// Each unit's start-up (tables registered, services registered with Units, start parameters
// read) runs before main, in one fixed order across translation units. A unit declares its
// start-up object at namespace scope with ORV_UNIT_INIT(priority); lower runs first, and
// shut-down runs in reverse. Globals of class type that a start-up object uses must be
// constructed by it (or be constant-initialised): plain globals are initialised after all
// prioritised ones.
#pragma once

#define ORV_UNIT_INIT(priority) __attribute__((init_priority(priority)))

namespace unitorder {
constexpr int kMiscLean = 1000;
constexpr int kFlexArray = 1100;
constexpr int kWindowsFlags = 1200;
constexpr int kDrovaneHeaders = 1300;
constexpr int kThreadNames = 1350;
constexpr int kThreadSync = 1400;
constexpr int kDebug = 1500;
constexpr int kJobPool = 1600;
constexpr int kLogTransport = 1700;
constexpr int kAppStartParams = 1800;
constexpr int kInstaller = 1900;
}  // namespace unitorder
