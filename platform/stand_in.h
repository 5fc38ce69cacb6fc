#pragma once
// The machine's tools on a drive that is a disk image: small files that
// stand in for the built programs, as placeholder programs stand in for
// built-in ones elsewhere. The launcher runs the built program a stand-in
// names; on a folder drive the tools are links to the built programs.
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The bytes of a stand-in for the built program `tool` ("pux", "regedit").
std::string standInBytes(std::string_view tool);

// The tool a file's bytes stand in for, or nullopt when they are no
// stand-in (any real program).
std::optional<std::string> standInTool(std::string_view bytes);

}  // namespace platform
