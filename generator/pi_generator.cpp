// pi_generator #DIGITS [FILE]: prints the digit text, or writes it to FILE.
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
    std::string text;
    try {
        text = pidigits(*count);
    } catch (const std::bad_alloc&) {
        std::cerr << outofmemorymessage;
        return exitoutofmemory;
    }
    // The text is complete before any output is chosen or opened.
    if (argc < 3) {
        return writestandardoutput(std::cout, std::cerr, text);
    }
    return writefile(argv[2], std::cerr, text);
}
