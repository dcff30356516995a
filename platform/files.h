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

// A native path spelled by UTF-16 units; a lone surrogate becomes U+FFFD.
[[nodiscard]] std::filesystem::path PathFromUtf16(std::u16string_view units);
// The UTF-16 spelling of a native path; a name that is not valid in the
// native encoding gets U+FFFD for each malformed part. Never throws.
[[nodiscard]] std::u16string PathToUtf16(const std::filesystem::path& path);

}  // namespace pelmora::platform
