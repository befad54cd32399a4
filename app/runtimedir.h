#pragma once

#include <string>

namespace velo
{

// Qt keeps per-session files in XDG_RUNTIME_DIR and warns at every start when it is not
// set, as under root without a login session, or through pkexec, which clears it.
// privateRuntimeDir() gives a folder to set it to: tmpBase/velo-recovery-runtime-UID,
// made with mode 0700 when missing. One that is there already is taken only when it is
// a real folder (not a link) owned by `uid` with mode 0700; otherwise a new
// one is made beside it with a name no one can have taken (mkdtemp). Nothing is ever
// changed on a folder that was there before. Empty when no folder could be made.
std::string privateRuntimeDir(const std::string& tmpBase, unsigned uid);

// Sets XDG_RUNTIME_DIR to privateRuntimeDir() under $TMPDIR (or /tmp) when it is unset
// or empty; leaves a value that is set alone. Call before the application object.
void ensureRuntimeDir();

} // namespace velo
