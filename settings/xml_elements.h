#pragma once
// The launcher's XML files are read by the shared rules (rules/config_files.h).
#include "rules/config_files.h"
