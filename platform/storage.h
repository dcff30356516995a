// Saving files safely: folders made with their parents, new files that never
// replace an existing one, private files replaced in one step, and the
// places where the program keeps its files.
//
// Paths are native paths. Every routine may run on any thread. Failures are
// results (false or an empty path); where a caller wants to tell the user
// why, the reason comes back as one short line of UTF-8 in `*error`.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace pelmora::platform {

// Creates `folder` and every missing parent (mode 0777 less the umask, or
// 0700 when `privateFolder`). True when the folder exists afterwards.
bool CreateFolders(const std::filesystem::path& folder, std::string* error = nullptr,
                   bool privateFolder = false);

// Writes `bytes` to a temporary file in `folder` and then gives it the name
// `stem` + `extension`, or, when that name is taken, the first free one of
// `stem`-2 + `extension`, `stem`-3 + `extension`, ... An existing file is
// never replaced, even when another process makes it meanwhile, and no file
// carries a final name before all its bytes are written. Returns the final
// path; on failure the empty path, with no file left behind.
[[nodiscard]] std::filesystem::path SaveNewFile(const std::filesystem::path& folder,
                                                std::string_view stem, std::string_view extension,
                                                std::string_view bytes,
                                                std::string* error = nullptr);

// Removes a file; true when it no longer exists.
bool RemoveFile(const std::filesystem::path& path);

// Replaces `path` with a file of mode 0600 holding exactly `bytes`: written to
// a temporary file beside it, flushed, then renamed over it, so that the file
// always holds either its old or its new contents. The folder must exist.
bool WritePrivateFile(const std::filesystem::path& path, std::string_view bytes,
                      std::string* error = nullptr);

// $XDG_CONFIG_HOME/pelmora when that variable holds an absolute path, else
// $HOME/.config/pelmora; empty when neither can be formed. Not created.
[[nodiscard]] std::filesystem::path ConfigFolder();

// Whether the calling process may create files in `folder` (an existing
// folder with write and search permission).
[[nodiscard]] bool IsFolderWritable(const std::filesystem::path& folder);

// The user's home folder ($HOME, else the password database); empty when
// unknown.
[[nodiscard]] std::filesystem::path HomeFolder();

}  // namespace pelmora::platform
