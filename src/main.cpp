// The program's entry point: wires the console module into the program frame and hands
// control to the frame, which runs the chat room service's entry.
#include "app/ApplicationEntry.h"
#include "console/ConsoleModule.h"
#include "runtime/ProgramFrame.h"

int main(int argc, char** argv)
{
    registerConsoleModule();
    return startProgram(argc, argv, applicationEntry);
}
