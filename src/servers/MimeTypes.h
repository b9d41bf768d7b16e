#pragma once

#include <string>
#include <string_view>

// The Content-Type for a file name, chosen by its extension (the text after the last "." of the
// last path segment, case ignored): a built-in list of common types, extended by the types the
// system registers (/etc/mime.types, then Qt's MIME database). "application/octet-stream" when
// the extension is unknown or missing. The table is built once, on first use, and may then be
// read from any thread.
const std::string& MimeTypeForFile(std::string_view fileName);

// Builds the table now, so that the first request does not pay for it.
void PrepareMimeTypes();
