// Our virtual instrument under the test's control: a test that links it (as
// its zem library, see tests/double/CMakeLists.txt) presses the probe's
// button, and lets a measurement complete, when it is ready for what follows,
// instead of a clock deciding whatever the program is doing.
#pragma once

namespace virtualcontrol {

// One press and release of the generator probe's button. It lands between
// two polls: the next get_status reports it, and keeps reporting it until
// reset_events clears it; a reset_events that comes before that poll leaves
// it be. Presses not yet reported wait their turn, one per poll.
void pressButton();

// While held, check_measurement_status reports every measurement as still
// running.
void holdMeasurements(bool hold);
// How many status polls the hold answered since it began; read on any thread,
// without waiting for the window to hear of the calls.
int polledWhileHeld();

} // namespace virtualcontrol
