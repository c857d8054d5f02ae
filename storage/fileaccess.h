// Disk access shared by the configuration file and the settings file.
//
// The readers and writers themselves work on byte strings; these few functions are the only
// places that touch the disk. Paths are byte strings, used byte for byte as the system takes
// them (no conversion through text, so a name in another encoding still names its file).
#pragma once

#include <sys/types.h>

#include <QFileDevice>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavoxa {

// I/O code of a failure in Qt's file layer: a full device 101 ("Zu wenig Speicherplatz"),
// a refused access or a failed replace 5, any other failing write 29, any other read 30.
int PlatformErrorCode(QFileDevice::FileError error, bool writing);

// The whole contents of a file, or std::nullopt when it cannot be opened: missing, no access,
// an empty name, or not a regular file (a directory, device or pipe is never read, so a
// stray name cannot block the program or feed it endless bytes). Throws IoError with the
// platform code when a read fails after the file was opened.
std::optional<std::string> ReadWholeFile(const std::string& path);

// Whether something exists under the name `path`.
bool FileExists(const std::string& path);

// Whether an existing file counts as write-protected: either the process may not write it,
// or none of its permission bits grants writing to anyone. The second test matters for the
// superuser, for whom the system grants every write whatever the bits say; clearing all
// write bits (chmod a-w) therefore protects a file for every user, root included.
bool IsWriteProtected(const std::string& path);

// Throws IoError 103 unless `path` may be replaced: an empty name, a write-protected file and a
// name that exists as something other than a regular file (a directory or device) are refused.
void CheckReplaceable(const std::string& path);

// Replaces the file `path` by `bytes` as one step: the bytes go to a temporary file beside
// it, which takes the file's place only once all of them are written and on disk, so a failure
// at any point leaves the old file (or no file) and never a truncated or mixed one. A symbolic
// link is followed. The file keeps its mode; a new one gets `newFileMode` less the umask.
// Where the folder allows no new file but the file itself may be written, the file is written
// over in place instead (then not atomic).
// Throws IoError 103 when the file cannot be created: the cases of CheckReplaceable, and a
// missing or unwritable directory without a writable file in it. Throws IoError with the
// platform code when writing or replacing fails afterwards.
void WriteFileAtomically(const std::string& path, std::string_view bytes, mode_t newFileMode = 0666);
// The same, and the file gets exactly `mode` whether it exists or not (a copy keeps the mode of
// what it copies: a backup of a file holding a password stays private).
void WriteFileAtomicallyWithMode(const std::string& path, std::string_view bytes, mode_t mode);
// The mode bits of an existing file, or nullopt.
std::optional<mode_t> FileMode(const std::string& path);
// Removes what a save cut off (a power cut, a kill) left of each of `targets`: the temporary
// files "<target>.tmpNNN" a replace writes first. Returns the names removed.
std::vector<std::string> RemoveStaleTemporaries(const std::vector<std::string>& targets);

// Writes all of `bytes` to an open device, or throws IoError with the platform code.
void WriteAll(QFileDevice& file, std::string_view bytes);

// `path` made absolute against the current directory and cleaned, for comparing file names
// across later changes of the current directory.
std::string AbsoluteFilePath(const std::string& path);

}  // namespace tavoxa
