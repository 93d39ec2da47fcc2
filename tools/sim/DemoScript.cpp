#include "DemoScript.h"

namespace sim {

const char* const kDemoScript = R"(# The buttons one after another
repeat 1 {
  hold 1 for 300ms; wait 150ms
  hold 2 for 300ms; wait 150ms
  hold 3 for 300ms; wait 150ms
  hold 4 for 300ms; wait 150ms
  hold 5 for 300ms; wait 150ms
  hold 7 for 300ms; wait 150ms
}
text OK
# Valuator 1 up and back, then down and back
hold 10 for 1500ms; wait 800ms
hold 11 for 1500ms; wait 800ms
# Valuator 2 the same
hold 8 for 1500ms; wait 800ms
hold 9 for 1500ms; wait 800ms
# Both at once: the emulated tracker moves diagonally, then back
press 10 8; wait 2s; release; wait 600ms
press 11 9; wait 2s; release; wait 600ms
# Button 6 puts the tracker back where it started
hold 6 for 300ms; wait 500ms
)";

}  // namespace sim
