#pragma once
// Registration of the archive file type with the shell, registry reads as
// text, and the command line of the silent registry import.
#include <string>
#include <string_view>

#include "platform/launcher.h"
#include "platform/registry/registry.h"

namespace platform {
class Machine;
}
namespace app {
class Program;
}

namespace shell {

// The value as text: a text or expandable text as stored (cut at its first
// zero byte), a 32-bit number in decimal, anything else (and a key or value
// that cannot be read) empty text. An empty value name is the default value.
std::string ReadKeyValue(platform::reg::Registry& reg, platform::reg::HKEY root,
                         std::string_view keyPath, std::string_view valueName);

// Writes the keys of a file type under HKEY_CLASSES_ROOT and tells the shell
// that associations changed. Nothing happens for an empty class name; a key
// or value that cannot be written is passed over.
// programFolder: the folder of the executable; exeName: its file name
// without extension ("Brakvel 9x").
void CreateAssociation(const platform::Machine& m, platform::reg::Registry& reg,
                       std::string_view programFolder, std::string_view exeName,
                       std::string_view className, std::string_view extension,
                       std::string_view description, std::string_view iconPath,
                       std::string_view extraArguments);

// The start-up check: registers the archive type (.kvt, class "Brakvel")
// unless the extension key already has a text of its own.
void FileAssociate(const platform::Machine& m, platform::reg::Registry& reg,
                   std::string_view programFolder, std::string_view exeName);

// "regedit.exe /s " + path: the editor's silent import, path unquoted (the
// callers pass the short form).
std::string importCommandLine(std::string_view path);

// Starts the silent import of the registry script at path (callers pass the
// short form), hidden, without waiting; job receives the editor's job.
// False after a failed start has been reported in a message box.
bool ImportRegFile(app::Program& program, std::string_view path, platform::JobId* job = nullptr);

// The text of the message shown when the registry editor cannot be started.
std::string importStartFailureText(int number, std::string_view description,
                                   std::string_view path);

}  // namespace shell
