// kxpipe: runs library operations on an image file from the command line.
#include <iostream>

#include "pipe.hpp"

int main(int argc, char **argv)
{
    return kxtools::runPipe(std::vector<std::string>(argv, argv + argc), std::cout, std::cerr);
}
