#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace tess::platform {

// Disc file systems compare names without case; Linux does not. Each component
// of Path is matched exactly first and then case-insensitively (ASCII) in its
// folder. Returns the path as it exists on disk, or nothing; then *Err (when
// given) is the errno of a look or a listing on the way that failed for another
// reason than a name missing (EACCES of a folder the user may not enter, ELOOP
// of a link loop), else 0; *Unlisted (when given) the folder on the way that
// could not be entered or listed, when that is where the look ended.
std::optional<std::string> FindPathCaseInsensitive(const std::string& Path, int* Err = nullptr,
                                                   std::string* Unlisted = nullptr);

// The existing spelling of Path when one is found, else Path unchanged.
std::string ResolveInputPath(const std::string& Path);

// Path pieces in the program's own terms ("/" separates folders).
std::string ExtractFileName(std::string_view Path);   // after the last '/'
std::string ExtractFilePath(std::string_view Path);   // up to and including the last '/'
std::string ExtractFileExt(std::string_view Path);    // from the last '.' of the name, "" when none
std::string ChangeFileExt(std::string_view Path, std::string_view Ext);  // Ext with its dot
std::string IncludeTrailingSlash(std::string_view Folder);  // "" stays ""
std::string ExcludeTrailingSlash(std::string_view Folder);

bool EqualsIgnoreCase(std::string_view a, std::string_view b);
// '0' to '9' only, whatever the locale says.
constexpr bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }
std::string ToUpperAscii(std::string_view s);
std::string ToLowerAscii(std::string_view s);

}  // namespace tess::platform
