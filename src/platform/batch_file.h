#pragma once

namespace platform {

// Starts the batch file `file` from the working folder through the platform
// shell, without waiting for it; a missing file or a failed start is ignored.
// On POSIX the name is matched in any letter case, a link is not followed,
// and only a regular file that no other user could have written is run: one
// owned by the user camfix runs as (effective id) or by root, that not
// everyone may write. Of several spellings the first such file in byte order
// is run; each spelling before it that fails the rule is named, with its
// owner, in one line on standard error. The script is read from the file
// that was checked, never opened again by name, with the CR of each CR LF
// line end taken out.
void LaunchBatchFile(const char* file);

}  // namespace platform
