// The program "updater".
#include "updater.h"

int main(int argc, char **argv)
{
    return UPDTMain(argc, argv);
}
