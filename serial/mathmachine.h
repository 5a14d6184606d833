#pragma once

// The agreed home of the signal processing (filtering, averaging) that the
// program does not do yet. It is kept, empty, so that such work has its
// place in the serial layer; nothing creates it today.
class MathMachine
{
public:
    MathMachine();
};
