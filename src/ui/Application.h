// The application object of the UI class library, as far as the installer uses it so far.
#pragma once

#include <functional>

// Processes the window messages waiting in the main thread's queue, once. The message loop
// comes with the splash form; until then tests may set what a pass does.
void ApplicationProcessMessages();
// Replaces what a pass does (an empty function: nothing); returns the one it replaces.
std::function<void()> ApplicationProcessMessagesHookSet(std::function<void()> aHook);
