#pragma once

namespace ostrand::sim {

// The speed the program on the far end of pseudo-terminal `masterFd` set its
// side to (on Linux the master reports the slave's settings); 0 when unknown.
int serialSideBaud(int masterFd);

} // namespace ostrand::sim
