/* pi_buffer #DIGITS [FILE]: prints the digit text, or writes it to FILE. */
#include <stdlib.h>

#include "bufferfrontend.h"
#include "filereplacement.h"

int main(int argc, char** argv)
{
    char* text = NULL;
    int status = buildtext(argc, argv, &text);
    if (status != exitsuccess) {
        return status;
    }
    /* The text is complete before the file is opened. */
    status = argc < 3 ? writestandardoutput(text) : writefile(argv[2], text);
    free(text);
    return status;
}
