// pi_generator_discard #DIGITS [FILE]: computes the digit text and drops it;
// FILE is ignored and nothing is written.
#include <iostream>
#include <string>

#include "generatorfrontend.h"

int main(int argc, char** argv)
{
    using namespace generator;
    return runguarded(std::cerr, [&] {
        std::string text;
        return buildtext(argc, argv, std::cerr, text);
    });
}
