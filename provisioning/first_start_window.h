#pragma once
// The "First start..." window shown while the data folder is filled.

#include <windows.h>

#include <memory>

#include "fs/while_busy.h"

// The window class name, the launcher's one process-wide string.
extern const char* const kFirstStartWindowClass;

constexpr int kFirstStartWindowWidth = 200;
constexpr int kFirstStartWindowHeight = 120;

struct FirstStartWindowParts {
  HWND window;
  HINSTANCE instance;  // the one the class is registered for
  DWORD lastAnswered;  // GetTickCount of the last reading of its messages
};
struct FirstStartWindowCloser {
  void operator()(FirstStartWindowParts* parts) const;
};
// Owns the shown window and its class registration: the window is
// destroyed, then the class unregistered, once.
using FirstStartWindow = std::unique_ptr<FirstStartWindowParts, FirstStartWindowCloser>;

// Registers the class, makes the window centred on the desktop and shows it.
// It only says that the launcher is busy: no loop of its own runs.
[[nodiscard]] FirstStartWindow ShowFirstStartWindow(HINSTANCE instance);

// For the copy that runs while the window is shown, on its thread: reads the
// window's pending messages at most every kFirstStartAnswerMs, however often
// it is called, so that Windows never takes the launcher for hung (after
// five seconds without a read it offers the player to end it). Messages sent
// to the window are answered by DefWindowProcA; keyboard and mouse input is
// read and dropped, so the window can no more be moved or closed than
// before, and a drag never holds the copy up.
constexpr DWORD kFirstStartAnswerMs = 50;
[[nodiscard]] WhileBusy AnswerWhileBusy(const FirstStartWindow& window);

// Destroys the window, then unregisters its class.
void CloseFirstStartWindow(FirstStartWindow window);

// Top-left corner of the window on a desktop of rectangle `desktop`: half of
// what its right and bottom edges leave, rounded toward zero.
[[nodiscard]] POINT FirstStartWindowOrigin(const RECT& desktop);
