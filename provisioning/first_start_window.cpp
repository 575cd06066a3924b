#include "provisioning/first_start_window.h"

const char* const kFirstStartWindowClass = "RunGameWindow";

void FirstStartWindowCloser::operator()(FirstStartWindowParts* parts) const {
  DestroyWindow(parts->window);
  UnregisterClassA(kFirstStartWindowClass, parts->instance);
  delete parts;
}

POINT FirstStartWindowOrigin(const RECT& desktop) {
  POINT origin;
  origin.x = (desktop.right - kFirstStartWindowWidth) / 2;
  origin.y = (desktop.bottom - kFirstStartWindowHeight) / 2;
  return origin;
}

FirstStartWindow ShowFirstStartWindow(HINSTANCE instance) {
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
  // The timer is never serviced: no message loop runs while the copy runs
  // on this thread.
  if (window) {
    SetTimer(window, 0, 100, nullptr);
    ShowWindow(window, SW_SHOW);
  }
  return FirstStartWindow(new FirstStartWindowParts{window, instance});
}

void CloseFirstStartWindow(FirstStartWindow window) { window.reset(); }
