// Quorvane: the game updater. The program starts in the update run, not in
// its window; the window lives on until the player presses PLAY or EXIT.

#include "QuorvaneProgram.h"

int main(int argc, char* argv[])
{
    return runQuorvane(argc, argv);
}
