#include "InteractiveKeys.h"

namespace sim {

const char* const kKeyHelp =
    "keys: 1-9 toggle buttons 1-9, 0 button 10, - button 11, space releases all,\r\n"
    "      t sends a text record \"OK\", h shows this, q quits\r\n";

KeyAction keyAction(char key) {
    KeyAction action;
    if (key >= '1' && key <= '9') {
        action.kind = KeyAction::Kind::toggle;
        action.button = key - '0';
    } else if (key == '0') {
        action.kind = KeyAction::Kind::toggle;
        action.button = 10;
    } else if (key == '-') {
        action.kind = KeyAction::Kind::toggle;
        action.button = 11;
    } else if (key == ' ') {
        action.kind = KeyAction::Kind::releaseAll;
    } else if (key == 't' || key == 'T') {
        action.kind = KeyAction::Kind::text;
    } else if (key == 'h' || key == 'H' || key == '?') {
        action.kind = KeyAction::Kind::help;
    } else if (key == 'q' || key == 'Q' || key == 0x03 || key == 0x04) {
        action.kind = KeyAction::Kind::quit;
    }
    return action;
}

}  // namespace sim
