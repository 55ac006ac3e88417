// Puts a folder's entries (a rename into it) on disk.
#pragma once

namespace zol::shore {

bool SyncDirectory(const char* path);

}  // namespace zol::shore
