/* pi_buffer_discard #DIGITS [FILE]: computes the digit text and drops it;
   FILE is ignored and nothing is written. */
#include <stdlib.h>

#include "bufferfrontend.h"

int main(int argc, char** argv)
{
    char* text = NULL;
    const int status = buildtext(argc, argv, &text);
    free(text);
    return status;
}
