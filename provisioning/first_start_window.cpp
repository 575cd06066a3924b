#include "provisioning/provisioning.h"

const char* const kFirstStartWindowClass = "RunGameWindow";

POINT FirstStartWindowOrigin(const RECT& desktop) {
  POINT origin;
  origin.x = (desktop.right - kFirstStartWindowWidth) / 2;
  origin.y = (desktop.bottom - kFirstStartWindowHeight) / 2;
  return origin;
}

HWND ShowFirstStartWindow(HINSTANCE instance) {
  WNDCLASSA windowClass = {};
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorA(nullptr, IDC_WAIT);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  windowClass.lpszClassName = kFirstStartWindowClass;
  RegisterClassA(&windowClass);

  RECT desktop = {};
  GetWindowRect(GetDesktopWindow(), &desktop);
  const POINT origin = FirstStartWindowOrigin(desktop);
  HWND window = CreateWindowExA(0, kFirstStartWindowClass, "First start...", WS_OVERLAPPED, origin.x, origin.y,
                                kFirstStartWindowWidth, kFirstStartWindowHeight, nullptr, nullptr, instance, nullptr);
  // The window only says that the launcher is busy: it runs no message loop
  // while the copy runs on this thread, so the timer is never serviced.
  if (!window) return nullptr;
  SetTimer(window, 0, 100, nullptr);
  ShowWindow(window, SW_SHOW);
  return window;
}

void CloseFirstStartWindow(HWND window, HINSTANCE instance) {
  DestroyWindow(window);
  UnregisterClassA(kFirstStartWindowClass, instance);
}
