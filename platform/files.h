// Whole-file input and output and the executable's location, on native paths.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace pelmora::platform {

// The whole regular file, or nullopt when it is missing, a folder or unreadable.
[[nodiscard]] std::optional<std::string> ReadWholeFile(const std::filesystem::path& path);
// Creates or truncates the file and writes all of `bytes`; missing folders are
// not created. False on any failure.
bool WriteWholeFile(const std::filesystem::path& path, std::string_view bytes);
// The folder holding the running executable (no trailing separator).
[[nodiscard]] std::filesystem::path ExecutableDirectory();

}  // namespace pelmora::platform
