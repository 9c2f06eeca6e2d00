// pi_generator #DIGITS [FILE]: prints the digit text, or writes it to FILE.
#include <iostream>
#include <string>

#include "filereplacement.h"
#include "generatorfrontend.h"

int main(int argc, char** argv)
{
    using namespace generator;
    return runguarded(std::cerr, [&] {
        std::string text;
        if (const int status = buildtext(argc, argv, std::cerr, text); status != exitsuccess) {
            return status;
        }
        // The text is complete before any output is chosen or opened.
        if (argc < 3) {
            return writestandardoutput(std::cout, std::cerr, text);
        }
        return writefile(argv[2], std::cerr, text);
    });
}
