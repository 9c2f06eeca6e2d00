// pi_generator_discard #DIGITS [FILE]: computes the digit text and drops it;
// FILE is ignored and nothing is written.
#include <iostream>
#include <new>

#include "frontend.h"
#include "pidigits.h"

int main(int argc, char** argv)
{
    using namespace generator;
    if (argc <= 1) {
        std::cerr << usagemessage << std::endl;
        return exitusage;
    }
    const std::optional<std::int32_t> count = digitcount(argv[1]);
    if (!count) {
        std::cerr << rangemessage;
        return exitusage;
    }
    try {
        const std::string text = pidigits(*count);
    } catch (const std::bad_alloc&) {
        std::cerr << outofmemorymessage;
        return exitoutofmemory;
    }
    return exitsuccess;
}
