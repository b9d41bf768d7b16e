#pragma once

#include <string>
#include <string_view>

// The path part of a request target: an absolute URL loses its scheme and host, the query is
// cut off, percent-escapes are decoded ("%20" gives a blank); a "%" not followed by two
// hexadecimal digits stays as it is. An absolute URL without a path gives "/"; any other
// target that does not begin with "/" ("cfg/x", "*") gives an empty path, which names nothing.
std::string RequestPath(std::string_view target);

// True when a path below the root has a ".." segment or a NUL byte (no file name holds one):
// such a path is refused before anything is looked up.
bool PathLeavesRoot(std::string_view path);

// True when a part of a "/" separated path begins with "." (".git/config", "cfg/.htpasswd",
// "..."); a part that is "." alone names the folder it stands in and is no name of its own.
bool PathHasHiddenName(std::string_view path);
