#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/options.h"
#include "app/project_state.h"

namespace tess::platform {
class SettingsStore;
struct FormPosition;
}

namespace tess::app {

using core::TOptions;

// The settings file's section names: the program's settings, and the stored
// window positions.
inline const char* const kSettingsKey = "HKEY_LOCAL_MACHINE\\Software\\Kestrune\\Tessaline 1.4";
inline const char* const kPositionKey = "HKEY_LOCAL_MACHINE\\Software\\Kestrune\\Tessaline 1.4\\Position";

// Every field with its value name, for loading, saving and "--set Name=Value".
// Loading keeps a field's default where the file holds a malformed or
// out-of-range value and returns one warning line for each such value.
std::vector<std::string> LoadOptions(TOptions& O, const platform::SettingsStore& Store);
void SaveOptionsTo(const TOptions& O, platform::SettingsStore& Store);
// Sets one field by its value name (matched without regard to case). False, with
// the reason in Error, for an unknown name (the reason lists near names), a value
// that is not a decimal number or is out of the field's range, or a change to a
// field the program holds at one value.
// A command's "--set Name=Value" argument as its name and value; false when it
// has no name or no "=".
bool SplitSettingArgument(const std::string& Argument, std::pair<std::string, std::string>& NameValue);
// Loads a command's settings file (one not there yet reads as empty, unless
// the user Named it): 0 when it can be used, else the command's exit status,
// with the reason on stderr (2 for a name that is no regular file or, Named,
// no file at all, whose usage line points to Command's help, 1 for a file that
// cannot be read).
int LoadSettingsFileForCommand(const std::string& File, platform::SettingsStore& Store,
                               const std::string& Command = {}, bool Named = false);

bool SetOptionByName(TOptions& O, const std::string& Name, const std::string& Value, std::string* Error = nullptr);
// The words of Known a mistyped Word may have been meant as (a letter or two
// off, whatever the case), separated by ", "; empty when none is.
std::string NearWords(const std::string& Word, const std::vector<std::string>& Known);
std::vector<std::string> OptionValueNames();
// Every field's value name and its value as the settings file holds it.
std::vector<std::pair<std::string, std::string>> OptionValues(const TOptions& O);

// The settings as each consumer below the shell takes them, built from the
// record.
state::RunSettings RunSettingsOf(const TOptions& O);
// Builds the project state's typed settings (and its error-box choice) from its
// record: after the settings are loaded or changed, and at the start of a run.
void ApplyOptions(app::TForm1& Form);

// Window positions, kept in the Position section under the form's name.
void RestoreFormPosition(const platform::SettingsStore& Store, const std::string& FormName,
                         platform::FormPosition& Pos);
void SaveFormPosition(platform::SettingsStore& Store, const std::string& FormName, const platform::FormPosition& Pos);

// The folder from which the settings start looking for the authoring tool.
void GetProgramFilesDir(std::string& Result);

}  // namespace tess::app
