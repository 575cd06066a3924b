// Placeholder update routines until update installation lands.
#include "update/update.h"

int ApplyStagedUpdate(const std::string&, const std::string&) { return 1; }
void CollectPackedFiles(const std::string&, PathList&) {}
bool UnpackFile(const std::string&, const std::string&) { return false; }
bool DiscardStagingFolder(const std::string&) { return false; }
