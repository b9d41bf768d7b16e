#include "record/ui/PhoneStateLook.h"

PhoneStateLook PhoneStateLookOf(PhoneState state) {
    switch (state) {
        case PhoneState::FileReady:
            return {"LRecStateFileReady", QColor(225, 225, 225)};  // silver
        case PhoneState::Told:
            return {"LRecStateTold", QColor(190, 220, 255)};  // sky blue
        case PhoneState::Fetched:
            return {"LRecStateFetched", QColor(170, 230, 170)};  // green
        case PhoneState::Failed:
            return {"LRecStateFailed", QColor(255, 170, 170)};  // red
        case PhoneState::Unknown:
            return {"LRecStateUnknown", QColor(255, 210, 120)};  // orange
    }
    return {"", QColor()};
}

const char* RecordKindKey(RecordEvent::Kind kind) {
    using Kind = RecordEvent::Kind;
    switch (kind) {
        case Kind::Batch:
            return "LRecKindBatch";
        case Kind::Pnp:
            return "LRecKindPnp";
        case Kind::Provision:
            return "LRecKindProvision";
        case Kind::Upgrade:
            return "LRecKindUpgrade";
        case Kind::Refresh:
            return "LRecKindRefresh";
        case Kind::Fetch:
            return "LRecKindFetch";
        case Kind::Discovery:
            return "LRecKindDiscovery";
        case Kind::Refreshed:
            return "LRecKindRefreshed";
    }
    return "";
}
