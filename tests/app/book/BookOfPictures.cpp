// Makes one book of the pictures named on the command line the way the program does. The
// open-count test runs it under strace.
//   book_of_pictures book.pdf picture...
#include "BookSupport.h"

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    return MakeEngineBook({argv + 2, argv + argc}, argv[1]) ? 0 : 1;
}
