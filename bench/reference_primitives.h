// The reference the bench holds our figures against: the line primitives and
// the pass-through terminal as plain polling loops, built over the
// same serial service, clock and console.
//
//  - GetcTimed polls the receive queue without pausing until its limit.
//  - ReadLine pauses 1 ms whenever the queue is empty.
//  - SendString polls the transmit count without pausing until it is 0.
//  - The pass-through terminal looks at the keyboard, takes one received
//    byte, and pauses 1 ms whenever nothing was received.
//
// reference_primitives.cpp takes the place of src/link/line_primitives.cpp and
// src/app/interactive.cpp in a second build of the sampler's code whose
// namespace is renamed (bench/CMakeLists.txt), so that the protocol, the
// cycle and the terminal above them run unchanged on these loops, side by
// side with ours in one program. The declarations are those of
// link/line_primitives.h and app/interactive.h.
#pragma once

#include "link/line_primitives.h"

namespace zol {

// The pass-through terminal as a polling loop: until CTRL+K.
void InteractiveMode();

}  // namespace zol
