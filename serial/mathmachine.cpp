#include "mathmachine.h"

MathMachine::MathMachine() {}
