// Replacing a file whole, so that a power cut or a kill at any instant
// leaves either the old or the new contents, never an empty or half file.
//
// The new contents go to a temporary ".<name>.saving-XXXXXX" beside the
// file (a shape nobody gives a file of their own), are flushed and synced,
// and the temporary is renamed over the file.  What the operator set up
// stays: a path that is a symbolic link keeps the link and has its target
// replaced; the new file keeps the old one's permission bits and, where
// the process may set them, its owner and group (a first file gets 0666
// less the umask).  A target that is not a regular file (a device such as
// /dev/null) is written in place instead, never replaced.
#ifndef HOVANTRA_CONFIG_ATOMIC_FILE_H
#define HOVANTRA_CONFIG_ATOMIC_FILE_H

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

struct ReplaceOutcome {
  int error = 0;         // 0, or the errno of the step that failed
  bool opened = false;   // the temporary (or the device) was opened
};

// fill puts the whole contents into the stream and gives false when that
// failed.  On failure the old file is untouched and no temporary is left.
ReplaceOutcome ReplaceFile(const std::string &path,
                           const std::function<bool(FILE *)> &fill);

// Removes the temporaries that replacements of path cut short (by a kill
// or a power cut) left beside it; gives their paths.  Nothing else is
// touched.
std::vector<std::string> RemoveInterruptedReplacements(const std::string &path);

#endif
