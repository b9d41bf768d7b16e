#pragma once

// Names the calling thread for debuggers (the system keeps the first 15 characters).
void NameCurrentThread(const char* name);
