#pragma once

// While a recording runs the system must not sleep by itself. Away mode, in which a sleep the user
// asks for only turns the screen and the sound off, is meant for media programs on desktop
// computers: a portable one would run on in its bag, so a system with a battery is not asked for it.
void KeepSystemAwake(bool awake);
