// Where the process and lwdctl find their folders: read once from the
// environment by the program's entry and handed down from there.
#pragma once

#include <string>
#include <string_view>

namespace lw {

// AppPath: LINEWARDEN_HOME when set and not empty, otherwise the folder of the
// running executable. No trailing separator.
std::string ResolveAppPath();

// The runtime folder: LINEWARDEN_RUNTIME, else $XDG_RUNTIME_DIR/linewarden,
// else /run/linewarden.
std::string ResolveRuntimeDir();

// The settings store: LINEWARDEN_REGISTRY, else app_path + "/registry.db".
std::string ResolveRegistryPath(std::string_view app_path);

}  // namespace lw
