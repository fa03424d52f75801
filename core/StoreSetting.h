// The remembered store directory: one per-user setting that the window and the command line
// share, and the places a store goes when none is remembered.
#pragma once

#include <optional>
#include <string>

namespace velmora {

// The setting's value; nothing when it is not set or holds something other than text.
// Raises "Settings file "<path>" is not a regular file" when the settings file's name is
// taken by a pipe, a folder or a device, which must never be opened as settings.
std::optional<std::string> ReadStoreDirSetting();
// Saves the value; a settings file that cannot be written (or is not a regular file) keeps
// what it had, as any failed save of a preference does.
void WriteStoreDirSetting(const std::string& Value);

// The settings file when its name is taken by something that must never be opened as
// settings (a pipe, a folder, a device); nothing when it is a regular file or not there.
// Every reader and writer of a setting asks this first.
std::optional<std::string> IrregularSettingsFile();

// The folder that holds the program (the window's and the command line's are the same).
std::string ApplicationDir();
// The per-user data folder, ~/.local/share/Brenmoor/Velmora on Linux. Needs the
// application's organisation and name set as main() sets them.
std::string UserDataDir();

// The store to use: the setting when it names one, else the default folder.
std::string EffectiveStoreDir();

}  // namespace velmora
