#include "provisioning/first_start_window.h"

const char* const kFirstStartWindowClass = "RunGameWindow";

namespace {

bool IsInput(UINT message) {
  return (message >= WM_KEYFIRST && message <= WM_KEYLAST) || (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) ||
         (message >= WM_NCMOUSEMOVE && message <= WM_NCXBUTTONDBLCLK);
}

void AnswerPendingMessages(void* context) {
  auto* parts = static_cast<FirstStartWindowParts*>(context);
  const DWORD now = GetTickCount();
  if (now - parts->lastAnswered < kFirstStartAnswerMs) return;
  parts->lastAnswered = now;
  // Reading at all answers what other programs send it, inside PeekMessageA.
  MSG message;
  while (PeekMessageA(&message, parts->window, 0, 0, PM_REMOVE)) {
    if (!IsInput(message.message)) DispatchMessageA(&message);
  }
}

}  // namespace

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
  // The timer's ticks do nothing but wait among the window's messages.
  if (window) {
    SetTimer(window, 0, 100, nullptr);
    ShowWindow(window, SW_SHOW);
  }
  return FirstStartWindow(new FirstStartWindowParts{window, instance, GetTickCount()});
}

WhileBusy AnswerWhileBusy(const FirstStartWindow& window) {
  if (!window || !window->window) return WhileBusy();
  return WhileBusy{AnswerPendingMessages, window.get()};
}

void CloseFirstStartWindow(FirstStartWindow window) { window.reset(); }
