#pragma once

// True on Windows 2000 and later (major version 5 or higher); false on the
// 4.x generation (95, 98, ME, NT 4) and when the version cannot be queried.
bool IsModernWindows();
