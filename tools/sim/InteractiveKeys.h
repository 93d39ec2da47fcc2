#pragma once

namespace sim {

// What a key pressed at the simulator's terminal does.
struct KeyAction {
    enum class Kind { none, toggle, releaseAll, text, help, quit };
    Kind kind = Kind::none;
    int button = 0;
};

// 1-9 toggle buttons 1 to 9, 0 button 10, - button 11; space releases all;
// t sends a text record; h or ? shows the keys; q, Ctrl-C or Ctrl-D quits.
KeyAction keyAction(char key);

extern const char* const kKeyHelp;

}  // namespace sim
