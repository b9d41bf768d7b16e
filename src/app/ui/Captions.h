#pragma once

class LanguageTable;
class QWidget;

// Applies the captions of a language to a window and everything in it: every object whose
// name has a non-empty line in the table gets that text as its caption (button and label
// text, group box title, menu item text, the tab text of a tab page). Objects without a line
// keep their caption; the window's own title is never changed.
void ApplyCaptions(const LanguageTable& language, QWidget* window);
// The same for every top-level window of the application.
void ApplyCaptionsToAllWindows(const LanguageTable& language);
