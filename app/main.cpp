// The program takes nothing from its command line.
#include "app/program.h"

int main() { return sellmeter::RunProgram(sellmeter::PlatformAppFramework()); }
