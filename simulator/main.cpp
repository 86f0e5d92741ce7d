#include "src/program.h"

#include <iostream>

int main(int argc, char** argv)
{
    return halvik::sim::runSimulatorProgram(std::vector<std::string>(argv + 1, argv + argc),
                                            std::cout, std::cerr);
}
