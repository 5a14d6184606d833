#pragma once

// Placeholder for signal processing that the program does not do yet.
class MathMachine
{
public:
    MathMachine();
};
