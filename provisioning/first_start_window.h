#pragma once
// The "First start..." window shown while the data folder is filled.

#include <windows.h>

#include <memory>

// The window class name, the launcher's one process-wide string.
extern const char* const kFirstStartWindowClass;

constexpr int kFirstStartWindowWidth = 200;
constexpr int kFirstStartWindowHeight = 120;

struct FirstStartWindowParts {
  HWND window;
  HINSTANCE instance;  // the one the class is registered for
};
struct FirstStartWindowCloser {
  void operator()(FirstStartWindowParts* parts) const;
};
// Owns the shown window and its class registration: the window is
// destroyed, then the class unregistered, once.
using FirstStartWindow = std::unique_ptr<FirstStartWindowParts, FirstStartWindowCloser>;

// Registers the class, makes the window centred on the desktop and shows it.
// No message loop runs: it only says that the launcher is busy.
[[nodiscard]] FirstStartWindow ShowFirstStartWindow(HINSTANCE instance);

// Destroys the window, then unregisters its class.
void CloseFirstStartWindow(FirstStartWindow window);

// Top-left corner of the window on a desktop of rectangle `desktop`: half of
// what its right and bottom edges leave, rounded toward zero.
[[nodiscard]] POINT FirstStartWindowOrigin(const RECT& desktop);
