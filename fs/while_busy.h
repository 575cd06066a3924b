#pragma once
// What long work on the launcher's one thread calls between its steps (a copy
// between files and between blocks of a large file, a walk between entries),
// so that a window of that thread keeps answering. By default nothing.

struct WhileBusy {
  void (*call)(void* context) = nullptr;
  void* context = nullptr;
  void operator()() const {
    if (call) call(context);
  }
};
