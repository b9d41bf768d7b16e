#pragma once

#include <string>
#include <string_view>

// The Content-Type for a file name, chosen by its extension (the text after the last "." of the
// last path segment, case ignored): a built-in list of common types, extended by the types the
// system registers (/etc/mime.types, then Qt's MIME database by name). "application/octet-stream"
// when the extension is unknown or missing. May be called from any thread; the reference stays
// valid until the calling thread's next call.
const std::string& MimeTypeForFile(std::string_view fileName);

// Builds the table now, so that the first request does not pay for it.
void PrepareMimeTypes();
