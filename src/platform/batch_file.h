#pragma once

namespace platform {

// Starts the batch file `file` from the working folder through the platform
// shell, without waiting for it; a missing file or a failed start is ignored.
// On POSIX the name is matched in any letter case, a link is not followed, and
// only a file that no other user could have written is run, from a folder in
// which no other user could have renamed one of the runner's files to its
// name. The folder is the runner's (effective id) or root's, and where others
// may write it (beyond the runner's private group, which no other user has as
// primary group, and with no access ACL entry letting another user or a group
// write it), sticky. The file is a regular file with one link, the runner's or
// root's, that not everyone may write, nor a group the runner is not in, nor,
// by its access ACL, a named user other than the runner or a group the runner
// is not in, and that no program has open for writing (checked by a read
// lease, where one can be had, which the shell keeps while it reads). Nothing
// is run where the real and effective user or group ids differ. Of several
// spellings the first such file in byte order is run; each spelling before it
// that fails the rule is named, with its owner, in one line on standard error,
// and a folder that fails it gets one such line instead. The script is read
// from the file that was checked, never opened again by name, with the CR of
// each CR LF line end taken out.
void LaunchBatchFile(const char* file);

}  // namespace platform
