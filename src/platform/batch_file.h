#pragma once

namespace platform {

// Starts the batch file `file` from the working folder through the platform
// shell, without waiting for it; a missing file or a failed start is ignored.
// On POSIX the name is matched in any letter case (the first such regular
// file in byte order when there are several; a link is not followed), and
// the script is run with the CR of each CR LF line end taken out.
void LaunchBatchFile(const char* file);

}  // namespace platform
