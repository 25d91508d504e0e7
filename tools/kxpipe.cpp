// kxpipe: runs library operations on an image file from the command line.
#include <csignal>
#include <iostream>

#include "pipe.hpp"

int main(int argc, char **argv)
{
    // A write beyond the file-size limit fails with its error (EFBIG) and
    // is reported like a full disk, instead of killing the program halfway.
    std::signal(SIGXFSZ, SIG_IGN);
    return kxtools::runPipe(std::vector<std::string>(argv, argv + argc), std::cin, std::cout, std::cerr);
}
