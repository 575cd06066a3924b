#include "fs/change.h"

// The release launcher: every change goes ahead.
bool ReachFaultPoint(const char*, const std::string&, const std::string&) { return true; }
