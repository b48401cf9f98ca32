#include "zemctl.h"

int main(int argc, char **argv)
{
    return zemctl::run(argc, argv);
}
