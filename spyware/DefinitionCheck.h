#pragma once
// What a definition file may hold. The spyware list is ANSI text; the block
// script may only add blocking entries, the unblock script may only take
// them away. Anything else refuses the whole file, naming the first line
// that is not allowed. The update checks what it downloads, and Block and
// Unblock check the file they are about to import, so that neither a server
// nor a file put in place by hand can make the registry editor do more.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace spyware {

inline constexpr uint64_t kMaxDefinitionBytes = 1024 * 1024;

enum class DefinitionKind { SpywareList, BlockScript, UnblockScript };

// The kind of the definition file of that name ("antispy.enc"), if it is one.
std::optional<DefinitionKind> definitionKindOf(std::string_view encodedFileName);

// A value that blocks spyware: the kill bit of an ActiveX control
// ("Compatibility Flags"=dword:00000400 under the control's CLSID in
// HKEY_LOCAL_MACHINE\Software\Microsoft\Internet Explorer\ActiveX Compatibility),
// or a domain in the Restricted Sites zone ("*", "http" or "https" =
// dword:00000004 under the domain's key in HKEY_CURRENT_USER\Software
// \Microsoft\Windows\CurrentVersion\Internet Settings\ZoneMap\Domains).
struct BlockingEntry {
  std::string key;    // full path, root name first, as the script writes it
  std::string value;  // the value's name
  bool operator==(const BlockingEntry&) const = default;
};

// The value names that block under key; empty when key is no blocking key.
std::vector<std::string> blockingValueNames(std::string_view key);
// The data (REG_DWORD, as stored) that blocks, for one of those names.
std::string blockingData(std::string_view valueName);

struct CheckedDefinition {
  // Why the file is refused: "line 4 is not allowed: \"[HKEY_...]\"".
  std::optional<std::string> fault;
  // Block script: the entries it sets, in order. Unblock script: the
  // entries it takes away; "[-KEY]" stands for every blocking value of KEY.
  std::vector<BlockingEntry> entries;
};

// plain: the decoded file.
CheckedDefinition checkDefinition(DefinitionKind kind, std::string_view plain);

// "1 MiB", "64 KiB", "1000 bytes".
std::string sizeText(uint64_t bytes);

}  // namespace spyware
