#pragma once

#include "record/RecordEvents.h"
#include "record/RecordReader.h"

#include <QColor>

// How the page shows a state: the language key of its words and its colour.
struct PhoneStateLook {
    const char* textKey;
    QColor colour;
};
PhoneStateLook PhoneStateLookOf(PhoneState state);

// The language key of an event kind's name in the event list.
const char* RecordKindKey(RecordEvent::Kind kind);
